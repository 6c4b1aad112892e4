// The image data of a large non-interlaced PNG, deflated in strips on worker threads.
//
// The filtered data is cut into strips of whole rows of about stripBytes each: a size fixed by the
// program, never by the number of threads, so that the file is the same byte for byte however many
// threads write it. Each strip is deflated on its own, primed with the last 32 KiB of the data
// before it so that matches reach across the cut as they would in one stream, and ended with a
// sync flush (the last with the end of the stream); the strips then join into one zlib stream: a
// header, the strips in order, and the Adler-32 of the whole, combined from the strips' own.
// Worker threads only deflate: the chunks are written, and errors reported, on the main thread.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <sched.h>
#include <string>
#include <system_error>
#include <thread>
#include <vector>
#include <zlib.h>

#include "gridpack.h"

namespace gridpack {

namespace {
constexpr size_t stripBytes = size_t(256) << 10;
constexpr size_t window = size_t(32) << 10;
} // namespace

struct StripJob {
    std::vector<png_byte> data;       // filtered rows, each with its filter type byte
    std::vector<png_byte> dictionary; // the last bytes of the data before this strip
    bool last = false;
    std::vector<png_byte> compressed;
    uLong adler = 0;
    std::string error; // set by a worker that failed
    bool done = false;
};

namespace {

// Raw deflate of one strip; on failure the job carries the reason.
void deflateStrip(StripJob& job, int level, int strategy) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) {
        job.error = "cannot set up zlib to compress the image data";
        return;
    }
    if (!job.dictionary.empty())
        deflateSetDictionary(&z, job.dictionary.data(), uInt(job.dictionary.size()));
    try {
        // A flush adds a few bytes to the bound of the data itself.
        job.compressed.resize(deflateBound(&z, uLong(job.data.size())) + 64);
    } catch (const std::bad_alloc&) {
        deflateEnd(&z);
        job.error = "out of memory compressing the image data";
        return;
    }
    z.next_in = job.data.data();
    z.avail_in = uInt(job.data.size());
    z.next_out = job.compressed.data();
    z.avail_out = uInt(job.compressed.size());
    const int status = deflate(&z, job.last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool whole = job.last ? status == Z_STREAM_END : status == Z_OK && z.avail_out > 0;
    job.compressed.resize(job.compressed.size() - z.avail_out);
    deflateEnd(&z);
    if (!whole || z.avail_in != 0) job.error = "zlib failed to compress the image data";
    job.adler = adler32(adler32(0L, Z_NULL, 0), job.data.data(), uInt(job.data.size()));
}

} // namespace

unsigned writerThreads() {
    if (const char* value = std::getenv("GRIDPACK_THREADS")) {
        char* end;
        errno = 0;
        const long n = std::strtol(value, &end, 10);
        if (end == value || *end != '\0' || errno || n < 1 || n > 1024)
            pm_error("GRIDPACK_THREADS must be a whole number from 1 to 1024, not '%s'", value);
        return unsigned(n);
    }
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return unsigned(std::min(CPU_COUNT(&set), 16));
}

// Worker threads take jobs in order and deflate them; the main thread fills jobs, hands them
// out, and writes the finished ones in order. At most twice as many strips as threads are in
// flight, so memory stays a few strips per thread whatever the image's size.
struct StripWriter {
    ChunkWriter writeChunk;
    void* context;
    size_t rowBytes, bpp, rowsPerStrip;
    int filters, level, strategy;
    png_uint_32 rows, rowsAdded = 0;
    std::vector<png_byte> previous, scratch;
    std::unique_ptr<StripJob> filling;
    std::vector<png_byte> tail; // the last bytes of filtered data, the next strip's dictionary
    uLong adler = adler32(0L, Z_NULL, 0);
    bool headerWritten = false;

    std::mutex mutex;
    std::condition_variable workAvailable, jobDone;
    std::deque<std::shared_ptr<StripJob>> inFlight; // in order; the first unstarted is next
    size_t nextToStart = 0;
    bool stopping = false;
    std::vector<std::thread> workers;
    size_t maxInFlight;

    StripWriter(ChunkWriter writer, void* writerContext, size_t bytes, size_t pixelBytes,
                png_uint_32 rowCount, int filterMask, int zlibLevel, unsigned threads)
        : writeChunk(writer), context(writerContext), rowBytes(bytes), bpp(pixelBytes),
          rowsPerStrip(std::max<size_t>(1, stripBytes / (bytes + 1))), filters(filterMask),
          level(zlibLevel),
          strategy(filterMask == PNG_FILTER_NONE ? Z_DEFAULT_STRATEGY : Z_FILTERED), rows(rowCount),
          previous(bytes, 0), scratch(bytes), maxInFlight(2 * threads) {
        // Threads the system will not give are done without: the bytes are the same.
        try {
            for (unsigned i = 0; threads > 1 && i < threads; ++i)
                workers.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
        }
    }

    ~StripWriter() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        workAvailable.notify_all();
        for (std::thread& t : workers) t.join();
    }

    void work() {
        for (;;) {
            std::shared_ptr<StripJob> job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                workAvailable.wait(lock,
                                   [this] { return stopping || nextToStart < inFlight.size(); });
                if (stopping) return;
                job = inFlight[nextToStart++];
            }
            deflateStrip(*job, level, strategy);
            {
                std::lock_guard<std::mutex> lock(mutex);
                job->done = true;
            }
            jobDone.notify_all();
        }
    }

    void addRow(const png_byte* row) {
        if (!filling) {
            filling = std::make_unique<StripJob>();
            filling->dictionary = tail;
            filling->data.reserve(rowsPerStrip * (rowBytes + 1));
        }
        StripJob& job = *filling;
        const size_t at = job.data.size();
        job.data.resize(at + rowBytes + 1);
        filterRow(filters, row, previous.data(), rowBytes, bpp, job.data.data() + at,
                  scratch.data());
        std::memcpy(previous.data(), row, rowBytes);
        ++rowsAdded;
        if (job.data.size() / (rowBytes + 1) == rowsPerStrip || rowsAdded == rows) submit();
    }

    void submit() {
        std::shared_ptr<StripJob> job(filling.release());
        job->last = rowsAdded == rows;
        // Strips are at least stripBytes long but for the last, so one holds the whole window.
        const size_t keep = std::min(window, job->data.size());
        tail.assign(job->data.end() - long(keep), job->data.end());
        if (workers.empty()) {
            deflateStrip(*job, level, strategy);
            write(*job);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            inFlight.push_back(job);
        }
        workAvailable.notify_one();
        while (inFlight.size() >= maxInFlight || (job->last && !inFlight.empty())) {
            std::shared_ptr<StripJob> first;
            {
                std::unique_lock<std::mutex> lock(mutex);
                jobDone.wait(lock, [this] { return inFlight.front()->done; });
                first = inFlight.front();
                inFlight.pop_front();
                --nextToStart;
            }
            write(*first);
        }
    }

    // One strip as an IDAT chunk: the first with the zlib header, the last with the checksum of
    // the whole.
    void write(StripJob& job) {
        if (!job.error.empty()) pm_error("%s", job.error.c_str());
        adler = adler32_combine(adler, job.adler, z_off_t(job.data.size()));
        std::vector<png_byte>& out = job.compressed;
        if (!headerWritten) {
            // zlib's own header for a 32 KiB window, with its note of the level.
            const int effective = level == Z_DEFAULT_COMPRESSION ? 6 : level;
            const unsigned flevel = strategy >= Z_HUFFMAN_ONLY || effective < 2 ? 0
                                    : effective < 6                             ? 1
                                    : effective == 6                            ? 2
                                                                                : 3;
            unsigned header = (Z_DEFLATED + (7 << 4)) << 8 | flevel << 6;
            header += 31 - header % 31;
            out.insert(out.begin(), {png_byte(header >> 8), png_byte(header)});
            headerWritten = true;
        }
        if (job.last)
            out.insert(out.end(), {png_byte(adler >> 24), png_byte(adler >> 16),
                                   png_byte(adler >> 8), png_byte(adler)});
        writeChunk(context, "IDAT", out.data(), out.size());
    }
};

bool stripsWanted(size_t rowBytes, png_uint_32 rows, bool interlaced) {
    const size_t perStrip = std::max<size_t>(1, stripBytes / (rowBytes + 1));
    return !interlaced && rows > perStrip;
}

StripWriter* stripsBegin(ChunkWriter writer, void* context, size_t rowBytes, size_t bpp,
                         png_uint_32 rows, int filters, int level) {
    const unsigned threads = writerThreads();
    try {
        return new StripWriter(writer, context, rowBytes, bpp, rows, filters, level, threads);
    } catch (const std::bad_alloc&) {
        pm_error("out of memory compressing the image data");
    }
}

void stripsAddRow(StripWriter* w, const png_byte* row) {
    try {
        w->addRow(row);
    } catch (const std::bad_alloc&) {
        pm_error("out of memory compressing the image data");
    }
}

void stripsFinish(StripWriter* w) { w->writeChunk(w->context, "IEND", nullptr, 0); }

void stripsRelease(StripWriter* w) { delete w; }

} // namespace gridpack
