// Delivering one finished work file into a save folder, the way conversion and delivery does.
//
//   bench_deliver SOURCE SAVE_DIRECTORY NAME
//       delivers SOURCE as SAVE_DIRECTORY/NAME and prints one result line:
//       "<seconds> <linked|copied>"; exit status 1 when nothing was delivered
//
// bench/bench-deliver runs the whole comparison.

#include <chrono>
#include <cstdio>
#include <string>

#include "job/files/Delivery.h"

using namespace tarnwick;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_deliver SOURCE SAVE_DIRECTORY NAME\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const TDeliveryOutcome outcome = DeliverFile(argv[1], argv[2], argv[3], TIdAbortSignal::Never());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!outcome.delivered) {
        std::fprintf(stderr, "not delivered: %s\n", outcome.reason.c_str());
        return 1;
    }
    std::printf("%.6f %s\n", took.count(), outcome.linked ? "linked" : "copied");
    return 0;
}
