#!/usr/bin/python3
"""Chart of bench/compare.sh's results: wall time against output size, one point per image and
tool. The left panel shows the measured values; the right one divides each peer's by gridpack's
on the same image, so that gridpack sits at (1, 1) and a point's quadrant says whether that tool
was smaller or larger, faster or slower on that image.

    compare_chart.py data.tsv chart.png ["subtitle"]

data.tsv has one line per image and tool: image, tool, median seconds, output bytes, and 1 when
the output holds the input's pixels exactly (0 when not). Needs matplotlib (python3-matplotlib).
"""
import sys

import matplotlib

matplotlib.use('Agg')
import matplotlib.pyplot as plt
from matplotlib.lines import Line2D
from matplotlib.ticker import FixedLocator, FuncFormatter, NullFormatter

TOOLS = [  # name in the data, label, colour, marker
    ('gridpack', 'gridpack', '#d62728', 'o'),
    ('floor', 'floor (libpng from memory)', '#7f7f7f', 'x'),
    ('convert', 'ImageMagick', '#1f77b4', 's'),
    ('gm', 'GraphicsMagick', '#2ca02c', 'D'),
    ('vips', 'libvips', '#9467bd', '^'),
    ('pillow', 'Pillow', '#ff7f0e', 'v'),
]


def plain_ticks(axes, which, values):
    """Log-scale ticks at these values, written as plain numbers (0.5, 1, 2) not powers of 10."""
    axis = axes.xaxis if which == 'x' else axes.yaxis
    axis.set_major_locator(FixedLocator(values))
    axis.set_major_formatter(FuncFormatter(lambda v, _: f'{v:g}'))
    axis.set_minor_formatter(NullFormatter())


def main():
    data_file, chart_file = sys.argv[1:3]
    subtitle = sys.argv[3] if len(sys.argv) > 3 else ''
    rows = {}
    images = []
    for line in open(data_file):
        image, tool, seconds, size, exact = line.rstrip('\n').split('\t')
        rows[image, tool] = (float(seconds), int(size), exact == '1')
        if image not in images:
            images.append(image)

    fig, (left, right) = plt.subplots(1, 2, figsize=(15, 7), dpi=100)
    for tool, label, colour, marker in TOOLS:
        for image in images:
            if (image, tool) not in rows:
                continue
            seconds, size, exact = rows[image, tool]
            style = dict(marker=marker, color=colour, linestyle='none',
                         markersize=10 if tool == 'gridpack' else 7, zorder=3 if tool == 'gridpack' else 2)
            if marker != 'x':
                style.update(markerfacecolor=colour if exact else 'none', markeredgecolor=colour,
                             markeredgewidth=1.5)
            left.plot(size / 1e6, seconds, **style)
            if tool not in ('gridpack', 'floor') and (image, 'gridpack') in rows:
                g_seconds, g_size, _ = rows[image, 'gridpack']
                right.plot(size / g_size, seconds / g_seconds, **style)
    left.set_xscale('log')
    left.set_yscale('log')
    plain_ticks(left, 'x', [0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200])
    plain_ticks(left, 'y', [0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100])
    left.set_xlabel('output size (MB, log scale)')
    left.set_ylabel('wall time (s, log scale; median of the runs)')
    left.set_title('Every image and tool')
    left.grid(True, which='both', alpha=0.25)

    right.set_xscale('log')
    right.set_yscale('log')
    ratios = [0.1, 0.2, 0.25, 0.5, 0.75, 1, 1.5, 2, 3, 4, 6, 8, 10, 20, 50, 100]
    plain_ticks(right, 'x', ratios)
    plain_ticks(right, 'y', ratios)
    # Room above and below the points for the quadrants' names.
    low, high = right.get_ylim()
    right.set_ylim(min(low, 1) / 1.5, max(high, 1) * 1.5)
    right.axhline(1, color='#d62728', linewidth=1)
    right.axvline(1, color='#d62728', linewidth=1)
    right.plot(1, 1, marker='o', color='#d62728', markersize=10, zorder=3)
    right.set_xlabel("output size / gridpack's on the same image (log scale)")
    right.set_ylabel("wall time / gridpack's on the same image (log scale)")
    right.set_title('Each peer relative to gridpack (gridpack = 1, 1)')
    right.grid(True, which='both', alpha=0.25)
    for x, y, text, ha, va in ((0.02, 0.98, 'smaller, slower', 'left', 'top'),
                               (0.98, 0.98, 'larger, slower', 'right', 'top'),
                               (0.02, 0.02, 'smaller, faster', 'left', 'bottom'),
                               (0.98, 0.02, 'larger, faster', 'right', 'bottom')):
        right.text(x, y, text + ' than gridpack', transform=right.transAxes, ha=ha, va=va,
                   fontsize=9, color='#555555')

    handles = [Line2D([], [], marker=m, color=c, linestyle='none', markersize=8,
                      markerfacecolor=c, markeredgecolor=c) for _, _, c, m in TOOLS]
    labels = [label for _, label, _, _ in TOOLS]
    handles.append(Line2D([], [], marker='o', color='#555555', linestyle='none', markersize=8,
                          markerfacecolor='none'))
    labels.append('hollow: output pixels differ from the input')
    fig.legend(handles, labels, loc='lower center', ncol=7, fontsize=9.5, frameon=False)
    fig.suptitle('PNG from PBM/PGM/PPM: wall time against output size' + (f'\n{subtitle}' if subtitle else ''),
                 fontsize=12)
    # Each image's name beside gridpack's point, moved down while it would cover one already
    # placed (images of about the same size and time, such as a file and the same file piped).
    fig.tight_layout(rect=(0, 0.05, 1, 1))
    renderer = fig.canvas.get_renderer()
    placed = []
    for image in sorted((i for i in images if (i, 'gridpack') in rows),
                        key=lambda i: -rows[i, 'gridpack'][0]):
        seconds, size, _ = rows[image, 'gridpack']
        dy = 0
        while True:
            label = left.annotate(image, (size / 1e6, seconds), xytext=(7, dy), textcoords='offset points',
                                  fontsize=7, color='#444444', va='center')
            box = label.get_window_extent(renderer)
            if not any(box.overlaps(other) for other in placed) or dy < -60:
                break
            label.remove()
            dy -= 4
        placed.append(box)
    fig.savefig(chart_file)


if __name__ == '__main__':
    main()
