// The status bar's widget. Its text is repainted at most every kStatusRepaintMilliseconds: a
// download sets a new progress text for every block received, thousands a second, and repainting
// each took more processor time than the download itself spent on those blocks. A text that
// follows a quiet spell shows at once, and the latest text always shows within that time.
#pragma once

#include <QElapsedTimer>
#include <QStatusBar>
#include <QString>
#include <QTimer>

namespace qtfront {

inline constexpr int kStatusRepaintMilliseconds = 50;

class StatusBarWidget : public QStatusBar {
 public:
  explicit StatusBarWidget(QWidget* parent);
  // Shows text now, or as soon as the repaint interval allows.
  void ShowText(const QString& text);

 private:
  void ShowWaiting();

  QString waiting_;
  QElapsedTimer sinceShown_;
  QTimer later_;
};

}  // namespace qtfront
