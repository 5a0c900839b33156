// Files and folders as the application sees them. The program was written for drive C: "C:\"
// stands for $QUILLSTAGE_DRIVE_C/ when that variable is set, otherwise for the user's home folder,
// so the download folder "C:\Quillstage" is ~/Quillstage/ by default. Paths shown to the user are
// the real Linux paths.
#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace platform {

// The Linux path of a Windows path on drive C ("C:\Quillstage" → "/home/u/Quillstage"); other
// paths come back with their backslashes turned into slashes.
std::string MapWindowsPath(const std::string& windowsPath);
// The folder that stands for "C:\", without a trailing slash.
std::string DriveCFolder();

// The folder of the program's own executable, ending in "/".
std::string ProgramFolder();

bool FileExists(const std::string& path);       // a file (not a folder)
bool DirectoryExists(const std::string& path);
// Creates the folder and any missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& path);
bool SetCurrentDir(const std::string& path);
std::string GetCurrentDir();
bool DeleteFile(const std::string& path);
// The file's last-modification time, or nothing when it has none (missing file).
std::optional<std::time_t> FileAge(const std::string& path);
// Ensures a folder path ends in "/" (empty stays empty).
std::string IncludeTrailingSlash(const std::string& path);

}  // namespace platform
