// The main window's notification-area handling: the tray menu, opening the window near
// the tray, the settings dialog, help and about, hiding to the tray and showing back,
// always-on-top and the recorded size.
#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <mutex>

#include "monitor/model/Average.h"
#include "monitor/model/ModelLock.h"
#include "monitor/network/AddressTable.h"
#include "monitor/settings/Settings.h"
#include "monitor/shell/AboutForm.h"
#include "monitor/shell/CaptionAnimation.h"
#include "monitor/shell/MainForm.h"
#include "monitor/shell/WindowPlacement.h"
#include "monitor/shell/indicators/Indicators.h"
#include "platform/paths/Paths.h"

namespace ombrix {

namespace {

constexpr int HelpContents = 100;
// How often the tray host is looked for; a restarted panel gets the icon back within it.
constexpr int TrayWatchMs = 2000;

// F1 over the tray menu asks for the help of the item under the keyboard.
class TMenuHelpKey : public QObject {
 public:
  TMenuHelpKey(QMenu* menu, std::function<void()> help) : QObject(menu), help_(std::move(help)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_F1)
      return QObject::eventFilter(watched, event);
    help_();
    return true;
  }

 private:
  std::function<void()> help_;
};

int HelpContextOf(const QObject* object, int fallback) {
  for (; object != nullptr; object = object->parent()) {
    const QVariant context = object->property("helpContext");
    if (context.isValid()) return context.toInt();
  }
  return fallback;
}

QRect WorkAreaAt(QPoint point) {
  const QScreen* screen = QGuiApplication::screenAt(point);
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace

void TMainForm::ConnectWindowHandling() {
  HelpFile = platform::ProgramDir() + "Ombrix.hlp";
  RunSettingsForm = [](TSettingsForm& dialog) { return dialog.exec(); };
  OpenDocument = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  ShowMessage = [](const QString& text) {
    QMessageBox::information(nullptr, QApplication::applicationName(), text);
  };
  TrayHostPresent = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  connect(SettingsMenu, &QAction::triggered, this, [this] { SettingsMenuClick(); });
  connect(HelpMenu, &QAction::triggered, this, [this] { HelpMenuClick(); });
  connect(AboutMenu, &QAction::triggered, this, [this] { AboutMenuClick(); });
  ConnectHelpKeys();
  TrayWatch = new QTimer(this);
  TrayWatch->setObjectName("TrayWatch");
  TrayWatch->setInterval(TrayWatchMs);
  connect(TrayWatch, &QTimer::timeout, this, [this] { CheckTrayHost(); });
  // The tray menu from the status line too: the way to it when there is no tray.
  StatusPanel->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(StatusPanel, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    TrayClickPoint = StatusPanel->mapToGlobal(at);
    TrayPopup->popup(TrayClickPoint);
  });
}

void TMainForm::ConnectHelpKeys() {
  setProperty("helpContext", 700);
  AutoUpdateButton->setProperty("helpContext", 200);
  AdapterButton->setProperty("helpContext", 300);
  TrayPopup->setProperty("helpContext", 600);
  SettingsMenu->setProperty("helpContext", 800);
  ExitMenu->setProperty("helpContext", 1000);
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(f1, &QShortcut::activated, this,
          [this] { ShowHelp(HelpContextOf(QApplication::focusWidget(), 700)); });
  TrayPopup->installEventFilter(new TMenuHelpKey(TrayPopup, [this] {
    const QAction* item = TrayPopup->activeAction();
    const QVariant own = item != nullptr ? item->property("helpContext") : QVariant();
    const int context = own.isValid() ? own.toInt() : HelpContextOf(TrayPopup, 600);
    TrayPopup->close();
    ShowHelp(context);
  }));
}

void TMainForm::TrayIconActivated(QSystemTrayIcon::ActivationReason reason) {
  // A double or middle click is not a way into the menu; a double click has already
  // opened it with its first click.
  if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::Context) return;
  BringForward();
  TrayClickPoint = QCursor::pos();
  PopUpTrayMenu();
}

// A shown window that others cover comes to the front, and an open settings dialog above it.
void TMainForm::BringForward() {
  for (QWidget* window :
       {static_cast<QWidget*>(this), static_cast<QWidget*>(SettingsForm.data())}) {
    // One already in front is left alone: asking again only races the menu's grab.
    if (window == nullptr || !window->isVisible() || window->isActiveWindow()) continue;
    window->raise();
    window->activateWindow();
  }
}

void TMainForm::PopUpTrayMenu() {
  if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    TrayPopup->popup(TrayClickPoint);
    return;
  }
  // A Wayland client cannot place a menu on the screen without a window of its own under
  // it, so it opens as a small window of its own size; a fixed size asks the compositor to
  // float it rather than tile it over the desktop.
  TrayPopupPopup();
  TrayPopup->setMinimumSize(0, 0);
  TrayPopup->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  TrayPopup->setFixedSize(TrayPopup->sizeHint());
  TrayPopup->popup(TrayClickPoint);
}

void TMainForm::CheckTrayHost() {
  if (TrayIcon == nullptr) return;
  const bool present = TrayHostPresent();
  if (present && !trayHostSeen_) {
    // A new panel knows nothing of icons shown to the old one.
    TrayIcon->hide();
    TrayIcon->show();
    if (Trayless) UseTray();
  }
  trayHostSeen_ = present;
}

void TMainForm::UseWithoutTray() {
  Trayless = true;
  SetWindowType(Qt::Window);  // a taskbar entry, and minimising to it
  if (!isVisible()) {
    resize(Settings.Width, Settings.Height);
    Views->SetViewControls();
    Views->Refresh(false);
    ApplicationEventsRestore();
  }
  StatusText->setText(NoTrayText);
}

void TMainForm::UseTray() {
  Trayless = false;
  SetWindowType(Qt::Tool);
  StatusText->setText(TrayAgainText);
}

QRect TMainForm::TrayRect() const {
  if (TrayIcon == nullptr || !TrayIcon->isVisible()) return {};
  const QRect rect = TrayIcon->geometry();
  return rect.isValid() && !rect.isEmpty() ? rect : QRect();
}

void TMainForm::ProcessorMenuClick(int tag) {
  if (SettingsForm) {
    SettingsForm->raise();
    SettingsForm->activateWindow();
    return;
  }
  int& view = Views->CurrentView;
  Views->SortDescending = true;
  if (tag == 1 || tag == 2) view = 0;
  if (tag == 3 && view != 1 && view != 2) view = 1;
  if (tag == 4 && view != 3 && view != 4) view = 3;
  Views->SortColumn = tag == 1 ? 1 : tag == 2 ? 3 : 2;
  Views->SetViewControls();
  Views->Refresh(false);
  if (isVisible()) return;
  const bool place = !isMaximized();
  if (place) PlaceFromTray();
  ApplicationEventsRestore();
  if (!place) return;
  // The frame's size is known only once the window shows for the first time, at once or
  // when the window manager gets round to telling it.
  RefinePlacement();
  for (int ms : {0, 100, 250, 500, 1000})
    QTimer::singleShot(ms, this, [this] { RefinePlacement(); });
}

// Placed again with the frame's true size, unless the user has moved the window since.
void TMainForm::RefinePlacement() {
  // The frame stays where it was put while the window manager fits the client inside it.
  const bool unmoved = frameGeometry().topLeft() == RestoreRect.topLeft();
  if (!isVisible() || !unmoved || frameGeometry().size() == RestoreRect.size()) return;
  PlaceFromTray();
}

// The window's right edge at the tray click, its bottom just above the panel, its size the
// last one the user left it at.
void TMainForm::PlaceFromTray() {
  const QSize client(Settings.Width, Settings.Height);
  const QSize extra = FrameExtra(frameGeometry(), geometry());
  const QRect outer = MainWindowPlace(TrayClickPoint, client + extra, WorkAreaAt(TrayClickPoint));
  resize(client);
  move(outer.topLeft());
  RestoreRect = outer;
}

void TMainForm::ApplicationEventsRestore() {
  AnimateCaption(TrayRect(), RestoreRect);
  show();
  raise();
  activateWindow();
}

void TMainForm::ApplicationEventsMinimize() {
  hide();
  Panel1->SetHints(HiddenHints());  // hidden, the ticks leave them alone
  RestoreRect = frameGeometry();
  AnimateCaption(RestoreRect, TrayRect());
}

void TMainForm::ApplyAlwaysOnTop() {
  const bool onTop = Settings.AlwaysOnTop;
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
  ReplaceFlags(onTop ? windowFlags() | Qt::WindowStaysOnTopHint
                     : windowFlags() & ~Qt::WindowStaysOnTopHint);
}

// The window's type (tool window or ordinary one) changes; its hints stay.
void TMainForm::SetWindowType(Qt::WindowType type) {
  if (windowType() == type) return;
  ReplaceFlags((windowFlags() & ~Qt::WindowType_Mask) | type);
}

void TMainForm::ReplaceFlags(Qt::WindowFlags flags) {
  // Changing a window's flags hides it; a shown window comes back where it was, without
  // taking the focus.
  const bool shown = isVisible();
  const QRect bounds = geometry();
  setWindowFlags(flags);
  if (shown) {
    setGeometry(bounds);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    show();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
  }
}

void TMainForm::SettingsMenuClick() {
  if (SettingsForm) {
    SettingsForm->raise();
    SettingsForm->activateWindow();
    return;
  }
  // Freed on every path, the early ones included. A child of the window, so that it stays
  // above it, on top or not; modal to the window only, so that the tray menu still answers.
  std::unique_ptr<TSettingsForm> dialog = std::make_unique<TSettingsForm>(this);
  dialog->setWindowModality(Qt::WindowModal);
  SettingsForm = dialog.get();
  dialog->ShowHelp = [this](int context) { ShowHelp(context); };
  const QRect work = WorkAreaAt(TrayClickPoint);
  const QPoint click = TrayClickPoint;
  const QRect place =
      DialogPlace(click, dialog->size() + FrameExtra(frameGeometry(), geometry()), work);
  dialog->move(place.topLeft());
  // Placed again in its first moments, once its own frame is known.
  const QPointer<TSettingsForm> shown = dialog.get();
  for (int ms : {0, 100, 250, 500}) {
    QTimer::singleShot(ms, this, [shown, click, work] {
      if (!shown || !shown->isVisible()) return;
      const QRect again = DialogPlace(click, shown->frameGeometry().size(), work);
      if (again.y() != shown->frameGeometry().y()) shown->move(again.topLeft());
    });
  }
  const int result = RunSettingsForm(*dialog);
  dialog.reset();
  if (result != QDialog::Accepted) return;
  ApplyAlwaysOnTop();
  Timer1->setInterval(Settings.Interval);  // takes effect at once, the running period restarts
  std::lock_guard lock(ModelLock);
  if (Settings.SmoothChanged) ApplySmoothing();
  if (Settings.GetHostNames && core_->AddressTable() != nullptr)
    core_->AddressTable()->StartAllLookups();
}

void TMainForm::HelpMenuClick() {
  ShowHelp(HelpContents);
}

// The help file opens in the desktop's viewer for its type; viewers take no topic number,
// so every context opens the file at its start.
void TMainForm::ShowHelp(int /*context*/) {
  if (!platform::FileExists(HelpFile)) {
    ShowMessage(
        QString("The help file \"%1\" was not found.").arg(QString::fromStdString(HelpFile)));
    return;
  }
  OpenDocument(QUrl::fromLocalFile(QString::fromStdString(HelpFile)));
}

void TMainForm::AboutMenuClick() {
  ShowAboutForm([this] { return TrayRect(); });
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Views->LayoutColumns(width());
  // Only a normal window's size is the one to come back to.
  if ((windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) == 0) {
    std::lock_guard lock(ModelLock);  // as every change of Settings
    Settings.Width = width();
    Settings.Height = height();
  }
}

void TMainForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized() || Trayless) return;
  // Hidden to the tray instead; it comes back in the normal state.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  QTimer::singleShot(0, this, [this] {
    if (isVisible()) ApplicationEventsMinimize();
  });
}

}  // namespace ombrix
