// Entering the download folder at start-up: it becomes the current folder, where the setup file
// is found by its bare name. A folder that cannot be entered is not silently replaced.
#pragma once

#include <functional>
#include <string>

struct TLocalFolderChoice {
  std::string localFolder;  // ends in "/"
  std::string warning;      // what to tell the user; empty when all went as planned
};

// downloadFolder is empty when the download folder does not exist (then the program's own folder
// is used without a word, as when drive C has no room for it). setCurrentDir makes a folder the
// current one and tells whether it could.
TLocalFolderChoice EnterLocalFolder(const std::string& downloadFolder, const std::string& programFolder,
                                    const std::function<bool(const std::string&)>& setCurrentDir);
