// Receives one URL into a file with the HTTP exchange, the way a catalogue download
// does. Prints the time taken and the peak resident memory.
#include "service/HttpExchange.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <url> <body file>\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    qm::HttpExchange http;
    http.InputFileMode = true;
    http.Header = std::string(argv[2]) + ".head";
    http.Body = argv[2];
    const auto start = std::chrono::steady_clock::now();
    try {
        http.Get(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const auto stop = std::chrono::steady_clock::now();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("ours_ms=%.1f peak_rss_mb=%.1f status=%d\n",
        std::chrono::duration<double, std::milli>(stop - start).count(), static_cast<double>(usage.ru_maxrss) / 1024.0,
        http.statusCode());
    return 0;
}
