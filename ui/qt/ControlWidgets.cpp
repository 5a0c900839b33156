#include "ui/qt/ControlWidgets.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <iostream>

#include "platform/Application.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/FormReader.h"
#include "ui/StdCtrls.h"
#include "ui/qt/Appearance.h"
#include "ui/qt/StatusBarWidget.h"

namespace qtfront {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A picture file of the resources folder; a missing one is told on standard error and shows nothing.
QPixmap LoadPicture(const std::string& name) {
  if (name.empty()) return {};
  try {
    QPixmap pixmap(Q(ui::FindResourceFile(name).string()));
    if (pixmap.isNull()) std::cerr << "cannot read the picture " << name << '\n';
    return pixmap;
  } catch (const std::exception& e) {
    std::cerr << e.what() << '\n';
    return {};
  }
}

QString JoinedLines(const platform::TStringList& lines) {
  QStringList joined;
  for (const std::string& line : lines) joined << Q(line);
  return joined.join('\n');
}

QString StatusText(const ui::TStatusBar& bar) {
  if (bar.SimplePanel() || bar.PanelCount() == 0) return Q(bar.SimpleText());
  QStringList panels;
  for (const std::string& text : bar.Panels()) panels << Q(text);
  return panels.join("  ");
}

QWidget* NewWidgetFor(ui::TControl& control, QWidget* parent) {
  if (dynamic_cast<ui::TCheckBox*>(&control) != nullptr) return new QCheckBox(parent);
  if (dynamic_cast<ui::TButton*>(&control) != nullptr) return new QPushButton(parent);
  if (dynamic_cast<ui::TMemo*>(&control) != nullptr) return new QPlainTextEdit(parent);
  if (dynamic_cast<ui::TItemsControl*>(&control) != nullptr) return new QListWidget(parent);
  if (dynamic_cast<ui::TEdit*>(&control) != nullptr) return new QLineEdit(parent);
  if (dynamic_cast<ui::TStatusBar*>(&control) != nullptr) {
    auto* bar = new StatusBarWidget(parent);
    bar->setSizeGripEnabled(false);
    // A sunken panel, as the system's status bar draws its simple text.
    bar->setStyleSheet("QStatusBar { border: 1px solid palette(mid); border-right-color: palette(light);"
                       " border-bottom-color: palette(light); }");
    return bar;
  }
  if (dynamic_cast<ui::TCaptionControl*>(&control) != nullptr || dynamic_cast<ui::TImage*>(&control) != nullptr) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
  }
  return new QFrame(parent);
}

void ApplyText(ui::TControl& control, QWidget& widget) {
  QString caption;
  if (auto* c = dynamic_cast<ui::TCaptionControl*>(&control)) caption = Q(c->Caption());
  if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
    button->setText(caption);
  } else if (auto* label = qobject_cast<QLabel*>(&widget); label != nullptr && dynamic_cast<ui::TImage*>(&control) == nullptr) {
    label->setText(caption);
  } else if (auto* edit = qobject_cast<QLineEdit*>(&widget)) {
    edit->setText(Q(static_cast<ui::TEdit&>(control).Text()));
  }
}

void ApplyPicture(ui::TControl& control, QWidget& widget) {
  if (auto* image = dynamic_cast<ui::TImage*>(&control)) {
    auto& label = static_cast<QLabel&>(widget);
    label.setPixmap(LoadPicture(image->Picture()));
    label.setScaledContents(image->Stretch());
  } else if (auto* bitBtn = dynamic_cast<ui::TBitBtn*>(&control)) {
    auto& button = static_cast<QPushButton&>(widget);
    const QPixmap glyph = LoadPicture(bitBtn->Glyph());
    button.setIcon(QIcon(glyph));
    if (!glyph.isNull()) button.setIconSize(glyph.size());
  }
}

void ApplyLines(ui::TControl& control, QWidget& widget, bool oneAdded) {
  auto* memo = dynamic_cast<ui::TMemo*>(&control);
  auto* edit = qobject_cast<QPlainTextEdit*>(&widget);
  if (memo == nullptr || edit == nullptr) return;
  if (oneAdded && !memo->Lines().IsEmpty()) {
    edit->appendPlainText(Q(memo->Lines()[memo->Lines().Count() - 1]));
  } else {
    edit->setPlainText(JoinedLines(memo->Lines()));
  }
}

void ApplyItems(ui::TControl& control, QWidget& widget) {
  auto* items = dynamic_cast<ui::TItemsControl*>(&control);
  auto* list = qobject_cast<QListWidget*>(&widget);
  if (items == nullptr || list == nullptr) return;
  list->clear();
  for (const std::string& item : items->Items()) list->addItem(Q(item));
  list->setCurrentRow(items->ItemIndex());
}

void ApplyState(ui::TControl& control, QWidget& widget) {
  if (auto* memo = dynamic_cast<ui::TMemo*>(&control)) {
    auto& edit = static_cast<QPlainTextEdit&>(widget);
    edit.setReadOnly(memo->ReadOnly());
    edit.setLineWrapMode(memo->WordWrap() ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    const ui::TScrollStyle bars = memo->ScrollBars();
    edit.setHorizontalScrollBarPolicy(bars == ui::ssHorizontal || bars == ui::ssBoth ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    edit.setVerticalScrollBarPolicy(bars == ui::ssVertical || bars == ui::ssBoth ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  } else if (auto* edit = dynamic_cast<ui::TEdit*>(&control)) {
    static_cast<QLineEdit&>(widget).setReadOnly(edit->ReadOnly());
  } else if (auto* check = dynamic_cast<ui::TCheckBox*>(&control)) {
    static_cast<QCheckBox&>(widget).setChecked(check->Checked());
  }
}

void ApplyAppearance(ui::TControl& control, QWidget& widget) {
  widget.setFont(ToQFont(control.Font()));
  QPalette palette = widget.parentWidget() != nullptr ? widget.parentWidget()->palette() : widget.palette();
  if (const auto text = ToQColor(control.Font().color)) {
    palette.setColor(QPalette::WindowText, *text);
    palette.setColor(QPalette::ButtonText, *text);
    palette.setColor(QPalette::Text, *text);
  }
  const auto background = ToQColor(control.Color());
  if (background) palette.setColor(widget.backgroundRole(), *background);
  widget.setAutoFillBackground(background.has_value());
  widget.setPalette(palette);
}

// A label that sizes itself to its text keeps its place and takes its text's size.
void ApplyBounds(ui::TControl& control, QWidget& widget) {
  widget.setGeometry(control.Left(), control.Top(), control.Width(), control.Height());
  if (auto* label = dynamic_cast<ui::TLabel*>(&control); label != nullptr && label->AutoSize()) {
    widget.resize(widget.sizeHint());
  }
}

}  // namespace

void ApplyChange(ui::TControl& control, QWidget& widget, ui::TControlChange change) {
  switch (change) {
    case ui::ccCaption:
    case ui::ccText:
      ApplyText(control, widget);
      ApplyBounds(control, widget);
      break;
    case ui::ccLines:
    case ui::ccLineAdded:
      ApplyLines(control, widget, change == ui::ccLineAdded);
      break;
    case ui::ccItems:
      ApplyItems(control, widget);
      break;
    case ui::ccStatusText:
      if (auto* bar = dynamic_cast<StatusBarWidget*>(&widget)) bar->ShowText(StatusText(static_cast<ui::TStatusBar&>(control)));
      break;
    case ui::ccEnabled:
      widget.setEnabled(control.Enabled());
      break;
    case ui::ccVisible:
      widget.setVisible(control.Visible());
      break;
    case ui::ccBounds:
      ApplyBounds(control, widget);
      break;
    case ui::ccFont:
    case ui::ccColor:
      ApplyAppearance(control, widget);
      ApplyBounds(control, widget);
      break;
    case ui::ccPicture:
      ApplyPicture(control, widget);
      break;
    case ui::ccState:
      ApplyState(control, widget);
      break;
    case ui::ccClosed:
    case ui::ccDestroyed:
      break;
  }
}

QWidget* CreateControlWidget(ui::TControl& control, QWidget* parent) {
  QWidget* widget = NewWidgetFor(control, parent);
  widget->setObjectName(Q(control.Name()));
  for (const ui::TControlChange change : {ui::ccFont, ui::ccCaption, ui::ccText, ui::ccLines, ui::ccItems, ui::ccStatusText,
                                          ui::ccPicture, ui::ccState, ui::ccEnabled, ui::ccVisible, ui::ccBounds}) {
    ApplyChange(control, *widget, change);
  }
  if (!control.TabStop()) widget->setFocusPolicy(Qt::NoFocus);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    QObject::connect(button, &QAbstractButton::clicked, button, [&control] { platform::GuardHandler([&control] { control.Click(); }); });
  }
  return widget;
}

}  // namespace qtfront
