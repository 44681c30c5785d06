#include "monitor/shell/indicators/StatePanel.h"

#include <QAction>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QSystemTrayIcon>

#include "monitor/shell/images/ImageList.h"

namespace ombrix {

TStateIcon::TStateIcon(QWidget* parent) : QWidget(parent) {
  setFixedSize(ImageSize, ImageSize);
}

void TStateIcon::SetState(int imageIndex) {
  if (imageIndex == state_) return;
  state_ = imageIndex;
  update();
}

QSize TStateIcon::sizeHint() const {
  return {ImageSize, ImageSize};
}

void TStateIcon::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  ImageListIcon(state_).paint(&painter, rect());
}

void TStateIcon::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  emit DoubleClicked();
}

TStatePanel::TStatePanel(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 0, 2, 0);
  layout->setSpacing(4);
  setObjectName("Panel1");
  const std::pair<TStateIcon**, const char*> icons[] = {{&ProcessorState, "ProcessorState"},
                                                        {&MemoryState, "MemoryState"},
                                                        {&DiskState, "DiskState"},
                                                        {&NetworkState, "NetworkState"}};
  for (const auto& [icon, name] : icons) {
    *icon = new TStateIcon(this);
    (*icon)->setObjectName(name);
    layout->addWidget(*icon);
    connect(*icon, &TStateIcon::DoubleClicked, this, &TStatePanel::StateDoubleClicked);
  }
  SetHints(HiddenHints());
}

void TStatePanel::ShowStates(const TStates& states) {
  ProcessorState->SetState(states.Processor);
  MemoryState->SetState(states.Memory);
  DiskState->SetState(states.Disk);
  NetworkState->SetState(states.Network);
}

void TStatePanel::SetHints(const THints& hints) {
  ProcessorState->setToolTip(hints.Processor);
  MemoryState->setToolTip(hints.Memory);
  DiskState->setToolTip(hints.Disk);
  NetworkState->setToolTip(hints.Network);
}

QString TipForDisplay(const QString& tip) {
  QString shown = tip;
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

void ApplyTrayCaptions(const TTrayMenuItems& items, const TTrayCaptions& captions) {
  const std::pair<QAction*, const QString*> pairs[] = {
      {items.AboutMenu, &captions.About},     {items.ProcessorMenu, &captions.Processor},
      {items.MemoryMenu, &captions.Memory},   {items.DiskMenu, &captions.Disk},
      {items.NetworkMenu, &captions.Network}, {items.ElapsedMenu, &captions.Elapsed}};
  for (const auto& [action, caption] : pairs) {
    if (action != nullptr) action->setText(*caption);
  }
}

void ApplyMenuStates(const TTrayMenuItems& items, const TStates& states) {
  const std::pair<QAction*, TState> pairs[] = {{items.ProcessorMenu, states.Processor},
                                               {items.MemoryMenu, states.Memory},
                                               {items.DiskMenu, states.Disk},
                                               {items.NetworkMenu, states.Network}};
  for (const auto& [action, state] : pairs) {
    if (action != nullptr) action->setIcon(ImageListIcon(state));
  }
}

void ShowStates(const TStates& states, TStatePanel* panel, const TTrayMenuItems* menu,
                QSystemTrayIcon* tray) {
  if (panel != nullptr) panel->ShowStates(states);
  if (menu != nullptr) ApplyMenuStates(*menu, states);
  if (tray != nullptr) tray->setIcon(ImageListIcon(states.Overall));
}

}  // namespace ombrix
