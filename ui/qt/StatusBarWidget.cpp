#include "ui/qt/StatusBarWidget.h"

namespace qtfront {

StatusBarWidget::StatusBarWidget(QWidget* parent) : QStatusBar(parent) {
  later_.setSingleShot(true);
  connect(&later_, &QTimer::timeout, this, [this] { ShowWaiting(); });
}

void StatusBarWidget::ShowText(const QString& text) {
  waiting_ = text;
  if (!sinceShown_.isValid() || sinceShown_.elapsed() >= kStatusRepaintMilliseconds) {
    ShowWaiting();
    return;
  }
  if (!later_.isActive()) later_.start(static_cast<int>(kStatusRepaintMilliseconds - sinceShown_.elapsed()));
}

void StatusBarWidget::ShowWaiting() {
  later_.stop();
  showMessage(waiting_);
  sinceShown_.start();
}

}  // namespace qtfront
