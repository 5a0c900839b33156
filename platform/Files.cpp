#include "platform/Files.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {
namespace fs = std::filesystem;

std::string DriveCFolder() {
  if (const char* drive = std::getenv("QUILLSTAGE_DRIVE_C"); drive != nullptr && *drive != '\0') {
    std::string folder = drive;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/";
}

std::string MapWindowsPath(const std::string& windowsPath) {
  std::string path = windowsPath;
  bool onDriveC = path.size() >= 2 && (path[0] == 'C' || path[0] == 'c') && path[1] == ':';
  if (onDriveC) path = path.substr(2);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (!onDriveC) return path;
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
  std::string drive = DriveCFolder();
  return drive == "/" ? path : drive + path;
}

std::string ProgramFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return IncludeTrailingSlash(GetCurrentDir());
  return IncludeTrailingSlash(exe.parent_path().string());
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st{};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(path, ec);
  return DirectoryExists(path);
}

bool SetCurrentDir(const std::string& path) { return !path.empty() && chdir(path.c_str()) == 0; }

std::string GetCurrentDir() {
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  return ec ? std::string() : cwd.string();
}

bool DeleteFile(const std::string& path) { return !path.empty() && unlink(path.c_str()) == 0; }

std::optional<std::time_t> FileAge(const std::string& path) {
  struct stat st{};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_mtime;
}

std::string IncludeTrailingSlash(const std::string& path) {
  if (path.empty() || path.back() == '/') return path;
  return path + '/';
}

}  // namespace platform
