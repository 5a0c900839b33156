#include "app/RunTexts.h"

#include <array>

namespace {

struct TTextPair {
  std::string english;
  std::string chinese;
};

const std::array<TTextPair, rtRunTextCount>& Texts() {
  static const std::array<TTextPair, rtRunTextCount> texts = {{
      {"Please wait.....", "請稍候....."},
      {"Connected to Main Server", "已連接主伺服器"},
      {"Login success", "已成功登入"},
      {"Login success, connection encrypted", "已成功登入, 連線已加密"},
      {"Logged out", "已登出系統"},
      {"Login", "登入"},
      {"Downloading...", "下載中..."},
      {"Download completed", "下載完成"},
      {"Required files had been completely downloaded, install program now?", "所需檔案已下載完成, 現在開始安裝軟件?"},
      {"Required files not complete !", "所需檔案不完整!"},
  }};
  return texts;
}

}  // namespace

const std::string& RunText(TRunText text, bool chinese) {
  const TTextPair& pair = Texts().at(text);
  return chinese ? pair.chinese : pair.english;
}
