// Stored forms: a window's components and their properties as a readable text file.
//
// Format (UTF-8 text):
//   object GetUpdateFile: TGetUpdateFile       <- the window: name, class
//     Caption = 'Program Installation System'  <- Name = value, one property a line, in order
//     Font.Name = 'MS Sans Serif'              <- a part of a property, named with a dot
//     object Label1: TLabel                    <- a component of the window; nested in a control,
//       Left = 16                                 it is shown inside that control
//     end
//   end
// Values:
//   integers 16, -11, $FF; reals 2.5; texts in single quotes with '' for a quote inside;
//   #nnn is the character of Unicode code point nnn and joins the texts beside it ('a'#9'b');
//   a '+' at the end of a line continues a text on the next line;
//   identifiers True, False, clBlue, alNone, nil, or the name of a component or a window method;
//   lists of texts ( 'line 1' 'line 2' ), one text or more a line; sets [fsBold, fsItalic].
// Lines whose first non-blank characters are "//" are comments; blank lines are ignored.
//
// Reading a form creates each component with the window as owner, marks it as loading, sets its
// name and its properties by name in the file's order, and at the end calls Loaded on the window
// and then on every component in the file's order. Any fault (bad syntax, unknown class, unknown
// or read-only property, bad value, duplicate name) raises EFormError naming the file, the line
// and the reason; the components created by that read are then freed again.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Component.h"
#include "platform/SysUtils.h"
#include "ui/ClassRegistry.h"

namespace ui {

class EFormError : public platform::Exception {
 public:
  EFormError(std::string fileName, int line, std::string reason)
      : platform::Exception(fileName + ":" + std::to_string(line) + ": " + reason),
        fileName_(std::move(fileName)),
        line_(line),
        reason_(std::move(reason)) {}
  const std::string& FileName() const { return fileName_; }
  int Line() const { return line_; }
  const std::string& Reason() const { return reason_; }

 private:
  std::string fileName_;
  int line_;
  std::string reason_;
};

// Reads a form's text into root, whose class must be the one the file names (ignoring case).
// fileName is used in error messages.
void ReadForm(std::string_view text, const std::string& fileName, platform::TComponent& root,
              const TClassRegistry& classes = StandardClasses());
// Reads a form file into root; a file that cannot be read raises EFormError with line 0.
void ReadFormFile(const std::filesystem::path& path, platform::TComponent& root,
                  const TClassRegistry& classes = StandardClasses());
// Reads a form whose window class is made from the registry (without an owner).
std::unique_ptr<platform::TComponent> CreateForm(std::string_view text, const std::string& fileName,
                                                 const TClassRegistry& classes = StandardClasses());

// The resources folder holding the form files and pictures, the first that exists of:
// $QUILLSTAGE_RESOURCES; <program folder>/../share/quillstage (where the install puts them);
// <program folder>/resources; the source tree's resources/ folder (for runs from the build tree).
// Raises platform::Exception naming the places looked at when none holds fileName.
std::filesystem::path FindResourceFile(std::string_view fileName);

}  // namespace ui
