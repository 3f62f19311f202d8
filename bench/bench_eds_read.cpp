// EDS read time: bench_eds_read [--sep C] [--runs N] FILE...
// Reads each file with the program's reader into a fresh dictionary N times (at least 5) and
// prints the median (and the least) time of the read, and the median time of formatting every
// record's tree caption. Beside them, as the baseline, the median time of only reading the bytes
// and splitting them into lines.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "od/EdsReader.h"
#include "od/ValueText.h"

namespace {

volatile std::size_t g_sink = 0;  // keeps the caption texts from being optimised away

double medianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// The floor under any reader: the file's bytes into memory and split into lines.
std::size_t readAndSplit(const std::string& file) {
  std::string bytes;
  if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
    if (std::fseek(f, 0, SEEK_END) == 0) {
      const long size = std::ftell(f);
      if (size > 0) bytes.reserve(static_cast<std::size_t>(size));
      std::rewind(f);
    }
    char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, got);
    std::fclose(f);
  }
  return bp::od::splitEdsLines(bytes).size();
}

double msSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  char sep = '.';
  int runs = 5;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--sep") == 0 && i + 1 < argc) {
      sep = argv[++i][0];
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(5, std::atoi(argv[++i]));
    } else {
      files.emplace_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: bench_eds_read [--sep C] [--runs N] FILE...\n");
    return 2;
  }

  std::printf("%-40s %5s %12s %12s %12s %12s %9s  %s\n", "file", "runs", "read ms med",
              "read ms min", "bytes+lines", "captions ms", "records", "result");
  for (const std::string& file : files) {
    std::vector<double> readMs;
    std::vector<double> captionMs;
    std::vector<double> floorMs;
    std::size_t records = 0;
    int stoppedAt = 0;
    for (int run = 0; run < runs; ++run) {
      bp::od::ObjectDictionary d;
      const auto t0 = std::chrono::steady_clock::now();
      try {
        bp::od::ReadEDSFile(file, d, sep, 1);
        stoppedAt = 0;
      } catch (const bp::od::EdsReadError& e) {
        stoppedAt = e.line();
      }
      readMs.push_back(msSince(t0));
      records = d.recordCount();

      // What the tree build costs: one caption per record.
      const auto t1 = std::chrono::steady_clock::now();
      std::size_t chars = 0;
      for (const bp::od::ObjectEntry* h : d.heads()) {
        for (const bp::od::ObjectEntry* e = h; e != nullptr; e = e->next) {
          chars += bp::od::FormatNodeCaption(*e, sep).size();
        }
      }
      captionMs.push_back(msSince(t1));

      const auto t2 = std::chrono::steady_clock::now();
      g_sink = g_sink + readAndSplit(file);
      floorMs.push_back(msSince(t2));
      g_sink = g_sink + chars;
    }
    const std::size_t slash = file.find_last_of('/');
    const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    const std::string result = stoppedAt ? "stopped at line " + std::to_string(stoppedAt) : "ok";
    std::printf("%-40s %5d %12.2f %12.2f %12.2f %12.2f %9zu  %s\n", base.c_str(), runs,
                medianOf(readMs), *std::min_element(readMs.begin(), readMs.end()),
                medianOf(floorMs), medianOf(captionMs), records, result.c_str());
  }
  return 0;
}
