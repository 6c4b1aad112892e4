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

// A buffer that is not cleared when it grows: every byte is written before it is read.
struct Bytes {
    std::unique_ptr<png_byte[]> bytes;
    size_t size = 0, capacity = 0;

    png_byte* data() { return bytes.get(); }
    void reserve(size_t n) {
        if (n <= capacity) return;
        bytes.reset(new png_byte[n]);
        capacity = n;
        size = 0;
    }
};

// A strip's data and what a worker makes of it. Jobs are used again for later strips, so their
// buffers are allocated a few times a run rather than once a strip.
struct StripJob {
    Bytes data;       // filtered rows, each with its filter type byte
    Bytes dictionary; // the last bytes of the data before this strip
    bool last = false;
    Bytes compressed; // two bytes of room before the data for the zlib header
    uLong adler = 0;
    std::string error; // set by a worker that failed
    bool done = false;
};

namespace {

constexpr size_t headerRoom = 2;

// A deflate stream kept for one thread's strips: reset between them rather than set up again.
struct Deflater {
    z_stream z{};
    bool ready = false;

    Deflater() = default;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater() {
        if (ready) deflateEnd(&z);
    }
    bool start(int level, int strategy) {
        if (ready) return deflateReset(&z) == Z_OK;
        ready = deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) == Z_OK;
        return ready;
    }
};

// Raw deflate of one strip; on failure the job carries the reason.
void deflateStrip(Deflater& d, StripJob& job, int level, int strategy) {
    if (!d.start(level, strategy)) {
        job.error = "cannot set up zlib to compress the image data";
        return;
    }
    z_stream& z = d.z;
    if (job.dictionary.size != 0)
        deflateSetDictionary(&z, job.dictionary.data(), uInt(job.dictionary.size));
    try {
        // A flush adds a few bytes to the bound of the data itself; the checksum four more.
        job.compressed.reserve(headerRoom + deflateBound(&z, uLong(job.data.size)) + 64);
    } catch (const std::bad_alloc&) {
        job.error = "out of memory compressing the image data";
        return;
    }
    const size_t room = job.compressed.capacity - headerRoom - 4;
    z.next_in = job.data.data();
    z.avail_in = uInt(job.data.size);
    z.next_out = job.compressed.data() + headerRoom;
    z.avail_out = uInt(room);
    const int status = deflate(&z, job.last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool whole = job.last ? status == Z_STREAM_END : status == Z_OK && z.avail_out > 0;
    job.compressed.size = room - z.avail_out;
    if (!whole || z.avail_in != 0) job.error = "zlib failed to compress the image data";
    job.adler = adler32(adler32(0L, Z_NULL, 0), job.data.data(), uInt(job.data.size));
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
    std::shared_ptr<StripJob> filling;
    std::vector<std::shared_ptr<StripJob>> spare; // written jobs, to be filled again
    Bytes tail;        // the last bytes of filtered data, the next strip's dictionary
    Deflater deflater; // the main thread's, when there are no workers
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
        Deflater own;
        for (;;) {
            std::shared_ptr<StripJob> job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                workAvailable.wait(lock,
                                   [this] { return stopping || nextToStart < inFlight.size(); });
                if (stopping) return;
                job = inFlight[nextToStart++];
            }
            deflateStrip(own, *job, level, strategy);
            {
                std::lock_guard<std::mutex> lock(mutex);
                job->done = true;
            }
            jobDone.notify_all();
        }
    }

    void addRow(const png_byte* row) {
        if (!filling) start();
        StripJob& job = *filling;
        const size_t at = job.data.size;
        filterRow(filters, row, previous.data(), rowBytes, bpp, job.data.data() + at,
                  scratch.data());
        job.data.size = at + rowBytes + 1;
        std::memcpy(previous.data(), row, rowBytes);
        ++rowsAdded;
        if (job.data.size / (rowBytes + 1) == rowsPerStrip || rowsAdded == rows) submit();
    }

    // A job for the next strip, primed with the tail of the data before it.
    void start() {
        if (spare.empty()) {
            filling = std::make_shared<StripJob>();
        } else {
            filling = std::move(spare.back());
            spare.pop_back();
            filling->done = false;
        }
        filling->data.reserve(rowsPerStrip * (rowBytes + 1));
        filling->data.size = 0;
        filling->dictionary.reserve(window);
        if (tail.size != 0) std::memcpy(filling->dictionary.data(), tail.data(), tail.size);
        filling->dictionary.size = tail.size;
    }

    void submit() {
        std::shared_ptr<StripJob> job = std::move(filling);
        job->last = rowsAdded == rows;
        // Strips are at least stripBytes long but for the last, so one holds the whole window.
        const size_t keep = std::min(window, job->data.size);
        tail.reserve(window);
        std::memcpy(tail.data(), job->data.data() + job->data.size - keep, keep);
        tail.size = keep;
        if (workers.empty()) {
            deflateStrip(deflater, *job, level, strategy);
            write(job);
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
            write(first);
        }
    }

    // One strip as an IDAT chunk: the first with the zlib header, the last with the checksum of
    // the whole.
    void write(std::shared_ptr<StripJob>& done) {
        StripJob& job = *done;
        if (!job.error.empty()) pm_error("%s", job.error.c_str());
        adler = adler32_combine(adler, job.adler, z_off_t(job.data.size));
        png_byte* out = job.compressed.data() + headerRoom;
        size_t length = job.compressed.size;
        if (!headerWritten) {
            // zlib's own header for a 32 KiB window, with its note of the level.
            const int effective = level == Z_DEFAULT_COMPRESSION ? 6 : level;
            const unsigned flevel = strategy >= Z_HUFFMAN_ONLY || effective < 2 ? 0
                                    : effective < 6                             ? 1
                                    : effective == 6                            ? 2
                                                                                : 3;
            unsigned header = (Z_DEFLATED + (7 << 4)) << 8 | flevel << 6;
            header += 31 - header % 31;
            out -= 2, length += 2;
            out[0] = png_byte(header >> 8), out[1] = png_byte(header);
            headerWritten = true;
        }
        if (job.last) {
            const png_byte sum[] = {png_byte(adler >> 24), png_byte(adler >> 16),
                                    png_byte(adler >> 8), png_byte(adler)};
            std::memcpy(out + length, sum, sizeof sum);
            length += sizeof sum;
        }
        writeChunk(context, "IDAT", out, length);
        spare.push_back(std::move(done));
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
