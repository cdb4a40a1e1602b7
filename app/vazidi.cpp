#include "app/vazidi.h"

#include "app/Artwork.h"
#include "app/Banner.h"
#include "app/CardRecoveryRun.h"
#include "app/CommandError.h"
#include "app/Dialogs.h"
#include "app/FileDrop.h"
#include "app/LogMemo.h"
#include "app/Manual.h"
#include "app/PictureView.h"
#include "app/QtPlatform.h"
#include "app/RecoveredGrid.h"
#include "files/FileError.h"
#include "repair/RepairRun.h"
#include "repair/SaveCommands.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QPalette>
#include <QScreen>
#include <QSplitter>
#include <QStackedLayout>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

namespace mendrake {
namespace {

constexpr QSize kClientArea(732, 632);
constexpr int kToolbarHeight = 35;
constexpr QSize kCommandIconSize(24, 24);
constexpr QSize kWebsitePictureSize(120, 25);
constexpr int kLogHeight = 296;
constexpr int kSplitterWidth = 5;

// Fonts are asked for by their Windows names; where those are missing the
// style hint lets the font system pick a face of the same kind.
QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("sans-serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  return font;
}

QFont LogFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Courier New"), QStringLiteral("monospace")});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSize(8);
  return font;
}

// The underlined letter with Alt, in either case (Shift held or not).
void SetAccessKey(QAction& action, Qt::Key letter) {
  action.setShortcuts({QKeySequence(Qt::ALT | letter), QKeySequence(Qt::ALT | Qt::SHIFT | letter)});
  action.setShortcutContext(Qt::WindowShortcut);
}

// A hint "Tooltip|Longer help", split as the toolbar shows it.
void SetHint(QAction& action, const QString& hint) {
  const qsizetype bar = hint.indexOf(QLatin1Char('|'));
  action.setToolTip(bar < 0 ? hint : hint.left(bar));
  action.setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

QAction* NewCommand(QObject* owner, const char* name, const QString& caption, const QIcon& icon) {
  auto* action = new QAction(icon, caption, owner);
  action->setObjectName(QLatin1String(name));
  // The toolbar button shows the caption with its access key underlined.
  action->setIconText(caption);
  return action;
}

// The client area the window was laid out for, or less where the screen's free
// area is smaller: at a scale factor of 2 it would take 1464 by 1264 device
// pixels, and on a smaller screen the panel with the picture would lie off it.
QSize FittedClientArea(const QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return kClientArea;
  return kClientArea.boundedTo(screen->availableGeometry().size());
}

}  // namespace

TForm1::TForm1(Dialogs& dialogs, QWidget* parent) : QMainWindow(parent), dialogs_(dialogs) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QString::fromLatin1(kCaption));
  setFont(WindowFont());
  CreateActions();
  CreateToolbar();
  CreateClientArea();
  platform_ = std::make_unique<QtPlatform>(*this, dialogs_, *Image1);
  context_ = std::make_unique<RepairContext>(RepairContext{state_, *Memo1, *platform_});
  resize(FittedClientArea(*this));
  // Files dropped anywhere on the window: on the window itself, the log box and the picture.
  auto* fileDrop = new FileDrop([this] { return runInProgress_; }, [this](const auto& paths) { OpenFiles(paths); }, this);
  for (QWidget* target : {static_cast<QWidget*>(this), static_cast<QWidget*>(Memo1), Memo1->viewport(),
                          static_cast<QWidget*>(Image1)}) {
    fileDrop->Watch(*target);
  }
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateActions() {
  const QStyle& look = *style();
  actRepair = NewCommand(this, "actRepair", QStringLiteral("&Repair/Open"), RepairOpenIcon(look));
  actRecover = NewCommand(this, "actRecover", QStringLiteral("Recover from car&d"), CardIcon());
  actSave = NewCommand(this, "actSave", QStringLiteral("&Save"), SaveIcon(look));
  actSaveJPEG = NewCommand(this, "actSaveJPEG", QStringLiteral("Save &JPEG"), SaveJpegIcon());
  actCancel = NewCommand(this, "actCancel", QStringLiteral("&Cancel"), CancelIcon());
  FileExit1 = NewCommand(this, "FileExit1", QStringLiteral("E&xit"), ExitIcon(look));
  actHelp = NewCommand(this, "actHelp", QStringLiteral("Help"), HelpIcon(look));
  TBItem7 = NewCommand(this, "TBItem7", QStringLiteral("Website"), WebsiteIcon());

  SetAccessKey(*actRepair, Qt::Key_R);
  SetAccessKey(*actRecover, Qt::Key_D);
  SetHint(*actRecover, QStringLiteral("Recover from card|Finds the CRW files on a card or a card image"));
  SetAccessKey(*actSave, Qt::Key_S);
  SetAccessKey(*actSaveJPEG, Qt::Key_J);
  SetAccessKey(*actCancel, Qt::Key_C);
  SetAccessKey(*FileExit1, Qt::Key_X);
  SetHint(*FileExit1, QStringLiteral("Exit|Quits the application"));

  // Cancel is offered only while a run is in progress.
  actCancel->setEnabled(false);
  actCancel->setVisible(false);

  connect(actRepair, &QAction::triggered, this, &TForm1::actRepairExecute);
  connect(actRecover, &QAction::triggered, this, &TForm1::actRecoverExecute);
  connect(actSave, &QAction::triggered, this, &TForm1::actSaveExecute);
  connect(actSaveJPEG, &QAction::triggered, this, &TForm1::actSaveJPEGExecute);
  connect(actCancel, &QAction::triggered, this, &TForm1::actCancelExecute);
  connect(FileExit1, &QAction::triggered, this, &QWidget::close);
  connect(actHelp, &QAction::triggered, this, &TForm1::actHelpExecute);
  connect(TBItem7, &QAction::triggered, this, &TForm1::TBItem7Click);

  // The window answers the access keys too, so they work with the focus in
  // the log box while the toolbar floats in a window of its own.
  addActions({actRepair, actRecover, actSave, actSaveJPEG, actCancel, FileExit1});
}

void TForm1::CreateToolbar() {
  TBToolbar1 = new QToolBar(QStringLiteral("TBToolbar1"), this);
  TBToolbar1->setObjectName(QStringLiteral("TBToolbar1"));
  TBToolbar1->setAllowedAreas(Qt::TopToolBarArea);
  TBToolbar1->setMovable(true);
  TBToolbar1->setFloatable(true);
  TBToolbar1->setIconSize(kCommandIconSize);
  TBToolbar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  TBToolbar1->setFixedHeight(kToolbarHeight);
  TBToolbar1->addAction(actRepair);
  TBToolbar1->addAction(actRecover);
  TBToolbar1->addAction(actSave);
  TBToolbar1->addAction(actSaveJPEG);
  TBToolbar1->addAction(actCancel);
  TBToolbar1->addSeparator();
  TBToolbar1->addAction(FileExit1);
  TBToolbar1->addAction(actHelp);
  TBToolbar1->addSeparator();

  // A button placed straight on the toolbar is drawn at the toolbar's icon
  // size; the Website picture keeps its own size inside a holder.
  auto* websiteHolder = new QWidget;
  auto* holderLayout = new QHBoxLayout(websiteHolder);
  holderLayout->setContentsMargins(0, 0, 0, 0);
  WebsiteButton = new QToolButton(websiteHolder);
  WebsiteButton->setObjectName(QStringLiteral("WebsiteButton"));
  WebsiteButton->setDefaultAction(TBItem7);
  WebsiteButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
  WebsiteButton->setIconSize(kWebsitePictureSize);
  WebsiteButton->setAutoRaise(true);
  holderLayout->addWidget(WebsiteButton);
  TBToolbar1->addWidget(websiteHolder);
  addToolBar(Qt::TopToolBarArea, TBToolbar1);

  for (QToolButton* button : TBToolbar1->findChildren<QToolButton*>()) {
    // The buttons show the underlined letter, but the access keys belong to
    // the commands alone: a second owner of Alt+R would make the key ambiguous.
    button->setShortcut(QKeySequence());
    button->installEventFilter(this);
  }
  TBToolbar1->installEventFilter(this);
}

void TForm1::CreateClientArea() {
  Memo1 = new LogMemo;
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setFont(LogFont());

  Panel1 = new QFrame;
  Panel1->setObjectName(QStringLiteral("Panel1"));
  // A sunken box of one-pixel lines draws the etched frame: dark outside, light inside.
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Panel1->setLineWidth(1);
  Panel1->setMidLineWidth(0);
  QPalette white = Panel1->palette();
  white.setColor(QPalette::Window, Qt::white);
  Panel1->setPalette(white);
  Panel1->setAutoFillBackground(true);

  Image1 = new PictureView(Panel1);
  Image1->setObjectName(QStringLiteral("Image1"));
  Grid1 = new RecoveredGrid(Panel1);
  Grid1->setObjectName(QStringLiteral("Grid1"));
  Grid1->setFrameShape(QFrame::NoFrame);
  // Queued: the run clears the grid, which must not happen inside its own signal.
  connect(
      Grid1, &RecoveredGrid::OpenRequested, this,
      [this](const QString& path) { OpenFiles({QFile::encodeName(path).toStdString()}); }, Qt::QueuedConnection);
  panelPages_ = new QStackedLayout(Panel1);
  panelPages_->setContentsMargins(0, 0, 0, 0);
  panelPages_->addWidget(Image1);
  panelPages_->addWidget(Grid1);

  Splitter1 = new QSplitter(Qt::Vertical);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(kSplitterWidth);
  Splitter1->setOpaqueResize(true);
  Splitter1->setChildrenCollapsible(false);
  Splitter1->addWidget(Memo1);
  Splitter1->addWidget(Panel1);
  // The log box keeps its height when the window is resized; the panel takes the rest.
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({kLogHeight, kClientArea.height()});
  setCentralWidget(Splitter1);
}

void TForm1::FormCreate() {
  Memo1->Clear();
  for (const std::string_view line : BannerLines()) Memo1->Append(line);
  state_.CurrentFilename.clear();
}

template <typename Command>
void TForm1::RunCommand(Command&& command) {
  try {
    command();
  } catch (const FileError&) {
    const CommandError error = DescribeCurrentException();
    dialogs_.ShowError(this, error.title, error.text);
  }
}

void TForm1::actRepairExecute() {
  if (runInProgress_) return;
  std::vector<std::string> paths;
  for (const QString& path : dialogs_.AskOpenFileNames(this)) paths.push_back(QFile::encodeName(path).toStdString());
  OpenFiles(paths);
}

bool TForm1::OpenFiles(const std::vector<std::string>& paths) {
  if (runInProgress_ || paths.empty()) return false;
  ShowRecoveredGrid(false);
  RunCommand([&] { RunRepair(paths); });
  // A close asked for during the run takes effect now.
  if (closeWhenRunEnds_) close();
  return true;
}

void TForm1::ShowRecoveredGrid(bool shown) {
  if (!shown) Grid1->clear();
  panelPages_->setCurrentWidget(shown ? static_cast<QWidget*>(Grid1) : static_cast<QWidget*>(Image1));
}

void TForm1::actRecoverExecute() {
  if (runInProgress_) return;
  const std::optional<Dialogs::CardRecoveryChoice> choice = dialogs_.AskCardRecovery(this);
  if (!choice) return;
  ShowRecoveredGrid(false);
  runInProgress_ = true;
  actRepair->setEnabled(false);
  actRecover->setEnabled(false);
  RunCommand([&] {
    const RecoverySummary summary =
        RunCardRecovery(this, *choice, *Memo1, *platform_);
    Grid1->ShowFiles(summary.files);
    ShowRecoveredGrid(!summary.files.empty());
    // A scan that ended early says so where it cannot be missed: the log's last line says how to go on.
    if (summary.outputFull || summary.stopped != RecoverySummary::Stop::kNone) {
      dialogs_.ShowError(this, QStringLiteral("Mendrake"), QString::fromStdString(RecoverySummaryLine(summary)));
    }
  });
  actRecover->setEnabled(true);
  actRepair->setEnabled(true);
  runInProgress_ = false;
  if (closeWhenRunEnds_) close();
}

void TForm1::RunRepair(const std::vector<std::string>& paths) {
  // Events are processed during the search: no second run may start inside
  // this one, and Cancel is offered while it lasts.
  struct RunScope {
    TForm1& form;
    explicit RunScope(TForm1& f) : form(f) {
      form.runInProgress_ = true;
      form.actRepair->setEnabled(false);
      form.actCancel->setVisible(true);
      form.actCancel->setEnabled(true);
    }
    ~RunScope() {
      form.actCancel->setEnabled(false);
      form.actCancel->setVisible(false);
      form.actRepair->setEnabled(true);
      form.runInProgress_ = false;
      // The run shows the busy cursor; whatever ended it, the cursor goes back.
      while (form.platform_->BusyDepth() > 0) form.platform_->SetBusyCursor(false);
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;
  } scope(*this);
  RepairRun(*context_, paths);
}

void TForm1::actSaveExecute() {
  ShowRecoveredGrid(false);
  RunCommand([this] { mendrake::actSaveExecute(*context_); });
}

void TForm1::actSaveJPEGExecute() {
  ShowRecoveredGrid(false);
  RunCommand([this] { mendrake::actSaveJPEGExecute(*context_); });
}

void TForm1::actCancelExecute() {
  if (runInProgress_) state_.Aborted = true;
}

void TForm1::actHelpExecute() {
  for (const std::string_view line : HelpLines()) Memo1->Append(line);
}

void TForm1::TBItem7Click() { OpenManual(dialogs_, *Memo1); }

void TForm1::closeEvent(QCloseEvent* event) {
  if (runInProgress_) {
    closeWhenRunEnds_ = true;
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == TBToolbar1) {
    // A floating toolbar cannot be closed: the window would lose its commands.
    if (event->type() == QEvent::Close) {
      event->ignore();
      return true;
    }
  } else if (event->type() == QEvent::ToolTip && !TBToolbar1->isFloating()) {
    return true;  // docked, the toolbar shows no tooltips
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace mendrake
