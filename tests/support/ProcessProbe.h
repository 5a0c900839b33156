// What a lifetime test checks about the whole process: open descriptors (nothing leaks) and the CPU
// time it used (a loop that spins on its queue shows as CPU time while the test only waits).
#pragma once

#include <dirent.h>
#include <sys/resource.h>

#include <cstdint>

namespace probe {

// Entries of /proc/self/fd, less the one the listing itself holds.
inline int OpenDescriptorCount() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - 1;
}

// User and system CPU time of the process so far, in milliseconds.
inline std::int64_t CpuMilliseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_usec / 1000; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace probe
