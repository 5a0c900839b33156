#include "app/LocalFolder.h"

#include "platform/Files.h"

TLocalFolderChoice EnterLocalFolder(const std::string& downloadFolder, const std::string& programFolder,
                                    const std::function<bool(const std::string&)>& setCurrentDir) {
  TLocalFolderChoice choice;
  if (!downloadFolder.empty()) {
    choice.localFolder = platform::IncludeTrailingSlash(downloadFolder);
    if (setCurrentDir(choice.localFolder)) return choice;
    choice.warning = "The download folder " + downloadFolder + " cannot be made the current folder; files are saved in " +
                     programFolder + " instead.";
  }
  choice.localFolder = programFolder;
  if (!setCurrentDir(programFolder)) {
    if (!choice.warning.empty()) choice.warning += " ";
    choice.warning += "The program's folder " + programFolder + " cannot be made the current folder either.";
  }
  return choice;
}
