#include "monitor/shell/AboutForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "monitor/shell/CaptionAnimation.h"
#include "platform/tickcount/TickCount.h"

#ifndef OMBRIX_VERSION
#define OMBRIX_VERSION "0"
#endif

namespace ombrix {

QPointer<TAboutForm> AboutForm;

TAboutForm::TAboutForm(std::function<QRect()> trayRect)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint),
      trayRect_(std::move(trayRect)),
      timer_(new QTimer(this)) {
  setObjectName("AboutForm");
  setWindowTitle("About Ombrix");
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_ShowWithoutActivating);  // it must not take the focus from the user
  setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 18, 24, 18);
  auto* name = new QLabel("Ombrix", this);
  name->setObjectName("NameLabel");
  QFont big = name->font();
  big.setPointSizeF(big.pointSizeF() * 1.8);
  big.setBold(true);
  name->setFont(big);
  auto* version = new QLabel(QString("Version %1").arg(OMBRIX_VERSION), this);
  version->setObjectName("VersionLabel");
  auto* what = new QLabel(
      "Processor, memory, disk and network use\nper process, disk, file, "
      "network adapter and socket",
      this);
  for (QLabel* l : {name, version, what}) {
    l->setAlignment(Qt::AlignCenter);
    layout->addWidget(l);
  }
  // Its own size, fixed: a tiling compositor then floats it instead of filling the screen.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  timer_->setInterval(CheckMs);
  connect(timer_, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TAboutForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  shownTick_ = platform::GetTickCount();
  timer_->start();
}

void TAboutForm::Timer1Timer() {
  // Unsigned difference: right across the tick count's wrap.
  if (platform::GetTickCount() - shownTick_ >= ShowMs) close();
}

void TAboutForm::closeEvent(QCloseEvent* event) {
  timer_->stop();
  if (AboutForm == this) AboutForm = nullptr;  // the next "About..." makes a new one
  if (trayRect_) AnimateCaption(frameGeometry(), trayRect_());
  event->accept();
}

void ShowAboutForm(std::function<QRect()> trayRect) {
  if (AboutForm == nullptr) {
    AboutForm = new TAboutForm(std::move(trayRect));
    AboutForm->adjustSize();
    // Centred on the screen the user works on.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect place = AboutForm->rect();
      place.moveCenter(screen->availableGeometry().center());
      AboutForm->move(place.topLeft());
    }
  }
  AboutForm->show();
}

}  // namespace ombrix
