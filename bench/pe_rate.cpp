// orv_bench_pe_rate: how many file versions per second the native build's
// reader gets through, the way the program reads them (the POSIX backend's
// ReadFileVersion: open, status, reads at offsets, close).
//
//   orv_bench_pe_rate PASSES LIST
//
// LIST holds one path per line. Every pass reads every file once; the files
// are read once beforehand so that every pass finds them in the page cache.
// Prints one line per pass: "<seconds> <files> <files with a version>".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/seam.h"

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[1]) < 1) {
    std::fputs("usage: orv_bench_pe_rate PASSES LIST\n", stderr);
    return 2;
  }
  const int passes = std::atoi(argv[1]);
  std::vector<orv::String> paths;
  std::ifstream list(argv[2]);
  for (std::string line; std::getline(list, line);) {
    if (!line.empty()) paths.push_back(orv::FromUtf8(line));
  }
  if (paths.empty()) {
    std::fprintf(stderr, "orv_bench_pe_rate: no paths in %s\n", argv[2]);
    return 2;
  }

  const orv::Platform& p = orv::SystemPlatform();
  const auto pass = [&] {
    int withVersion = 0;
    for (const orv::String& path : paths) {
      orv::FileVersion4 version;
      withVersion += p.ReadFileVersion(p, path.c_str(), version);
    }
    return withVersion;
  };
  pass();  // warm-up
  for (int i = 0; i < passes; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const int withVersion = pass();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.9f %zu %d\n", took.count(), paths.size(), withVersion);
  }
  return 0;
}
