// Time to open a media file as the dialog does it: the length measured and the
// preview prerolled with its first picture. Prints the first open and the
// median of the later ones, in milliseconds.
//   veltrano-bench-open RUNS FILE

#include "app/ConverterDialog.h"
#include "media/MediaSystem.h"
#include "tests/support/DialogFixture.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3 || std::atoi(argv[1]) < 2) {
        std::fprintf(stderr, "usage: veltrano-bench-open RUNS(>=2) FILE\n");
        return 2;
    }
    if (veltrano::InitializeMedia().failed()) return 1;
    const int runs = std::atoi(argv[1]);
    veltrano::test::DialogHarness h;
    veltrano::ConverterDialog& d = h.Open();
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        // The opening goes on in the event loop (length measured on a worker
        // thread, preview cued by GStreamer): the time is until it has ended.
        const auto t0 = std::chrono::steady_clock::now();
        d.OpenChosenMedia(argv[2]);
        while (d.StateForTests().opening) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const auto t1 = std::chrono::steady_clock::now();
        if (!h.boxes.shown().empty() || d.StateForTests().clipCount != 1) {
            std::fprintf(stderr, "the file did not open\n");
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        veltrano::test::DropPreviewPlayer();
        QApplication::processEvents();
    }
    std::vector<double> later(ms.begin() + 1, ms.end());
    std::sort(later.begin(), later.end());
    std::printf("%.1f %.1f\n", ms[0], later[later.size() / 2]);
    return 0;
}
