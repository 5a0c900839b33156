// A prompter for tests: records every box and answers from a script (the next answer in order,
// or a fallback when the script is used up). Installed for its lifetime.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "ui/Prompter.h"

class ScriptedPrompter : public ui::TPrompter {
 public:
  explicit ScriptedPrompter(std::deque<ui::TModalResult> answers = {}, ui::TModalResult fallback = ui::mrOk)
      : answers_(std::move(answers)), fallback_(fallback), previous_(ui::SetPrompter(this)) {}
  ~ScriptedPrompter() override { ui::SetPrompter(previous_); }
  ScriptedPrompter(const ScriptedPrompter&) = delete;
  ScriptedPrompter& operator=(const ScriptedPrompter&) = delete;

  ui::TModalResult ShowMessageBox(const ui::TMessageRequest& request) override {
    boxes.push_back(request);
    if (answers_.empty()) return fallback_;
    const ui::TModalResult answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  bool ChooseFile(const ui::TFileRequest& request, std::string& fileName) override {
    files.push_back(request);
    if (chosenFile.empty()) return false;
    fileName = chosenFile;
    return true;
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes) texts.push_back(box.text);
    return texts;
  }

  std::vector<ui::TMessageRequest> boxes;
  std::vector<ui::TFileRequest> files;
  std::string chosenFile;

 private:
  std::deque<ui::TModalResult> answers_;
  ui::TModalResult fallback_;
  ui::TPrompter* previous_;
};
