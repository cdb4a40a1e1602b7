// The window as the user first sees it: parts, sizes, fonts, texts, toolbar.
#include "app/Banner.h"
#include "app/LogMemo.h"
#include "app/PictureView.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"

#include <QAction>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QLayout>
#include <QSplitter>
#include <QStyle>
#include <QTextBlock>
#include <QTextLayout>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

namespace mendrake::testing {
namespace {

using WindowLayout = WindowTest;

QToolButton* ButtonFor(QToolBar* toolbar, QAction* action) {
  return qobject_cast<QToolButton*>(toolbar->widgetForAction(action));
}

// Whether hovering over the button shows a tooltip, and which.
QString TooltipShownFor(QWidget* button) {
  QToolTip::hideText();
  const QPoint middle = button->rect().center();
  QHelpEvent hover(QEvent::ToolTip, middle, button->mapToGlobal(middle));
  QApplication::sendEvent(button, &hover);
  return QToolTip::isVisible() ? QToolTip::text() : QString();
}

TEST_F(WindowLayout, CaptionClientAreaAndApplicationTitle) {
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Mendrake (Repair, View and Extract) v1.2"));
  EXPECT_EQ(form_->size(), QSize(732, 632));
  EXPECT_EQ(QApplication::applicationName(), QStringLiteral("Mendrake"));
  EXPECT_EQ(form_->createPopupMenu(), nullptr) << "no menu that could hide the toolbar";
}

TEST_F(WindowLayout, PartsStackFromToolbarToPanel) {
  Settle();
  QToolBar* toolbar = form_->TBToolbar1;
  EXPECT_EQ(form_->toolBarArea(toolbar), Qt::TopToolBarArea);
  EXPECT_EQ(toolbar->geometry(), QRect(0, 0, 732, 35));

  const QRect log = form_->Memo1->geometry();
  const QPoint logTop = form_->Memo1->mapTo(form_.get(), QPoint(0, 0));
  EXPECT_EQ(logTop, QPoint(0, 35));
  EXPECT_EQ(log.width(), 732);
  EXPECT_EQ(log.height(), 296);

  EXPECT_EQ(form_->Splitter1->orientation(), Qt::Vertical);
  EXPECT_EQ(form_->Splitter1->handleWidth(), 5);
  EXPECT_TRUE(form_->Splitter1->opaqueResize()) << "live update while dragging";
  EXPECT_EQ(form_->Splitter1->widget(0), form_->Memo1);
  EXPECT_EQ(form_->Splitter1->widget(1), form_->Panel1);

  const QPoint panelTop = form_->Panel1->mapTo(form_.get(), QPoint(0, 0));
  EXPECT_EQ(panelTop, QPoint(0, 35 + 296 + 5));
  EXPECT_EQ(form_->Panel1->width(), 732);
  EXPECT_EQ(panelTop.y() + form_->Panel1->height(), 632);
  EXPECT_EQ(form_->Image1->geometry(), form_->Panel1->contentsRect()) << "the picture view fills the panel";
}

TEST_F(WindowLayout, FontsAreAskedForByNameWithAFallbackOfTheSameKind) {
  const QFont windowFont = form_->font();
  ASSERT_FALSE(windowFont.families().isEmpty());
  EXPECT_EQ(windowFont.families().first(), QStringLiteral("MS Sans Serif"));
  EXPECT_EQ(windowFont.pointSize(), 8);

  const QFont logFont = form_->Memo1->font();
  ASSERT_FALSE(logFont.families().isEmpty());
  EXPECT_EQ(logFont.families().first(), QStringLiteral("Courier New"));
  EXPECT_EQ(logFont.pointSize(), 8);
  // Whatever face stands in, it is of the right kind: every letter as wide as
  // every other in the log, not so in the window.
  const QFontMetrics logLetters(logFont);
  EXPECT_EQ(logLetters.horizontalAdvance(QLatin1Char('i')), logLetters.horizontalAdvance(QLatin1Char('W')))
      << QFontInfo(logFont).family().toStdString();
  const QFontMetrics windowLetters(windowFont);
  EXPECT_LT(windowLetters.horizontalAdvance(QLatin1Char('i')), windowLetters.horizontalAdvance(QLatin1Char('W')));
}

TEST_F(WindowLayout, LogBoxWrapsScrollsBothWaysAndIsEditable) {
  LogMemo* memo = form_->Memo1;
  EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_FALSE(memo->isReadOnly());
  EXPECT_TRUE(memo->verticalScrollBar()->isVisible());
  EXPECT_TRUE(memo->horizontalScrollBar()->isVisible());

  // A line longer than the box wraps instead of scrolling sideways.
  memo->Append(std::string(400, 'x'));
  Settle();
  EXPECT_EQ(memo->horizontalScrollBar()->maximum(), 0);
  EXPECT_GT(memo->document()->lastBlock().layout()->lineCount(), 1);

  // What the user types stays in the box.
  memo->setFocus();
  memo->moveCursor(QTextCursor::End);
  QTest::keyClicks(memo, "typed");
  EXPECT_TRUE(LogLines().last().endsWith(QStringLiteral("typed")));
}

TEST_F(WindowLayout, PanelIsWhiteAndEtched) {
  QFrame* panel = form_->Panel1;
  Settle();
  const QImage face = panel->grab().toImage();
  const QColor outer = face.pixelColor(0, face.height() / 2);
  const QColor inner = face.pixelColor(1, face.height() / 2);
  const QColor middle = face.pixelColor(face.width() / 2, face.height() / 2);
  EXPECT_EQ(middle, QColor(Qt::white));
  EXPECT_LT(outer.lightness(), inner.lightness()) << "a lowered line outside a raised one";
  EXPECT_LT(outer.lightness(), 200);
  EXPECT_EQ(panel->frameWidth(), 2);
}

TEST_F(WindowLayout, BannerOpensTheLog) {
  const QStringList lines = LogLines();
  const QString border = QStringLiteral("+") + QString(69, QLatin1Char('-')) + QStringLiteral("+");
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], border);
  EXPECT_EQ(lines[2], border);
  EXPECT_EQ(lines[1].size(), 71);
  EXPECT_TRUE(lines[1].startsWith(QStringLiteral("| Mendrake - Repair, Views, and Extracts ")));
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" |")));
  EXPECT_TRUE(form_->State().CurrentFilename.empty());
}

TEST_F(WindowLayout, HelpTextIsAppendedWithoutClearing) {
  form_->actHelp->trigger();
  const QStringList expected = {
      QString(),
      QStringLiteral(" Mendrake will repair the filesize of a CRW file,"),
      QStringLiteral(" as well as extract the JPEG images if available."),
      QStringLiteral(" 1) Click \"Repair/Open\"."),
      QStringLiteral(" 2) Select the file you want to repair or open."),
      QStringLiteral("    The details of the file will appear in this box, and"),
      QStringLiteral("    the JPEG thumbnail in the image panel."),
      QStringLiteral(" 3) Click \"Save\" to save the repaired CRW file or"),
      QStringLiteral("    click \"Save JPEG\" to just save the JPEG image."),
      QString(),
      QStringLiteral("If multiple files are selected from the Open dialog, then"),
      QStringLiteral("the files will automatically be repaired and JPEG files saved."),
  };
  const QStringList lines = LogLines();
  ASSERT_EQ(lines.size(), 3 + expected.size());
  EXPECT_EQ(lines.mid(3), expected);
  form_->actHelp->trigger();
  EXPECT_EQ(LogLines().size(), 3 + 2 * expected.size());
}

TEST_F(WindowLayout, ToolbarItemsInOrder) {
  QToolBar* toolbar = form_->TBToolbar1;
  const QList<QAction*> items = toolbar->actions();
  ASSERT_EQ(items.size(), 10);
  EXPECT_EQ(items[0], form_->actRepair);
  EXPECT_EQ(items[1], form_->actRecover);
  EXPECT_EQ(items[2], form_->actSave);
  EXPECT_EQ(items[3], form_->actSaveJPEG);
  EXPECT_EQ(items[4], form_->actCancel);
  EXPECT_TRUE(items[5]->isSeparator());
  EXPECT_EQ(items[6], form_->FileExit1);
  EXPECT_EQ(items[7], form_->actHelp);
  EXPECT_TRUE(items[8]->isSeparator());
  EXPECT_EQ(toolbar->widgetForAction(items[9])->findChild<QToolButton*>(), form_->WebsiteButton);

  const std::vector<std::pair<QAction*, QString>> captions = {
      {form_->actRepair, QStringLiteral("&Repair/Open")}, {form_->actRecover, QStringLiteral("Recover from car&d")},
      {form_->actSave, QStringLiteral("&Save")},
      {form_->actSaveJPEG, QStringLiteral("Save &JPEG")}, {form_->actCancel, QStringLiteral("&Cancel")},
      {form_->FileExit1, QStringLiteral("E&xit")},         {form_->actHelp, QStringLiteral("Help")},
  };
  EXPECT_EQ(toolbar->iconSize(), QSize(24, 24));
  EXPECT_EQ(toolbar->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
  for (const auto& [action, caption] : captions) {
    SCOPED_TRACE(caption.toStdString());
    EXPECT_EQ(action->text(), caption);
    EXPECT_FALSE(action->icon().isNull());
    EXPECT_FALSE(action->icon().pixmap(QSize(24, 24)).isNull());
    QToolButton* button = ButtonFor(toolbar, action);
    ASSERT_NE(button, nullptr);
    // The button shows the caption with its access key underlined.
    EXPECT_EQ(button->text(), caption);
  }
  // Only the running search offers Cancel.
  EXPECT_FALSE(form_->actCancel->isVisible());
  EXPECT_FALSE(form_->actCancel->isEnabled());
  EXPECT_FALSE(ButtonFor(toolbar, form_->actCancel)->isVisible());
  for (QAction* always : {form_->actRepair, form_->actSave, form_->actSaveJPEG, form_->FileExit1, form_->actHelp}) {
    EXPECT_TRUE(always->isEnabled());
    EXPECT_TRUE(ButtonFor(toolbar, always)->isVisible());
  }
}

TEST_F(WindowLayout, WebsiteButtonShowsOurPictureAndNoText) {
  QToolButton* website = form_->WebsiteButton;
  EXPECT_EQ(website->toolButtonStyle(), Qt::ToolButtonIconOnly);
  EXPECT_EQ(website->iconSize(), QSize(120, 25));
  EXPECT_EQ(form_->TBItem7->text(), QStringLiteral("Website"));
  // The face at 120 by 25 pixels, and drawn anew at twice that for screens at a scale of 2.
  const QList<QSize> sizes = form_->TBItem7->icon().availableSizes();
  EXPECT_EQ(sizes, QList<QSize>({QSize(120, 25), QSize(240, 50)}));
  const QPixmap sharp = form_->TBItem7->icon().pixmap(QSize(120, 25), 2.0);
  EXPECT_EQ(sharp.size(), QSize(240, 50));
  EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
  // Drawn, not blank: the middle of the picture is opaque.
  const QImage picture = form_->TBItem7->icon().pixmap(QSize(120, 25)).toImage();
  EXPECT_EQ(picture.pixelColor(60, 12).alpha(), 255);
  Settle();
  EXPECT_GE(website->width(), 120);
  EXPECT_LE(website->height(), 35);
  EXPECT_TRUE(website->isVisible());
}

TEST_F(WindowLayout, SplitterResizesTheLogLiveAndWindowResizeGrowsThePanel) {
  Settle();
  QSplitterHandle* handle = form_->Splitter1->handle(1);
  const QPoint grip(handle->width() / 2, handle->height() / 2);
  QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, grip);
  QTest::mouseMove(handle, grip + QPoint(0, -96));
  // Still dragging: the log box has already taken its new height.
  EXPECT_EQ(form_->Memo1->height(), 200);
  QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, grip + QPoint(0, -96));
  EXPECT_EQ(form_->Memo1->height(), 200);

  const int panelHeight = form_->Panel1->height();
  form_->resize(900, 800);
  Settle();
  EXPECT_EQ(form_->Memo1->height(), 200) << "the log box keeps its height";
  EXPECT_EQ(form_->Panel1->height(), panelHeight + 168);
  EXPECT_EQ(form_->Memo1->width(), 900);
}

TEST_F(WindowLayout, ToolbarFloatsIntoItsOwnToolWindowAndDocksAgain) {
  Settle();
  QToolBar* toolbar = form_->TBToolbar1;
  EXPECT_TRUE(toolbar->isMovable());
  EXPECT_TRUE(toolbar->isFloatable());
  EXPECT_FALSE(toolbar->isFloating());

  DragToolbar(toolbar, form_->mapToGlobal(QPoint(200, 450)));
  ASSERT_TRUE(toolbar->isFloating());
  EXPECT_TRUE(toolbar->isWindow());
  EXPECT_EQ(toolbar->windowType(), Qt::Tool);
  EXPECT_EQ(toolbar->windowTitle(), QStringLiteral("TBToolbar1"));
  EXPECT_TRUE(toolbar->isVisible());

  // The floating window does not close: the commands would be lost.
  EXPECT_FALSE(toolbar->close());
  EXPECT_TRUE(toolbar->isVisible());

  DragToolbar(toolbar, form_->mapToGlobal(QPoint(40, 1)));
  // Docking slides the toolbar into place before it belongs to the window again.
  EXPECT_TRUE(QTest::qWaitFor([toolbar] { return !toolbar->isFloating(); }, 2000));
  EXPECT_EQ(form_->toolBarArea(toolbar), Qt::TopToolBarArea);
}

TEST_F(WindowLayout, TooltipsOnlyWhileFloating) {
  Settle();
  QToolBar* toolbar = form_->TBToolbar1;
  QToolButton* exit = ButtonFor(toolbar, form_->FileExit1);
  EXPECT_EQ(form_->FileExit1->toolTip(), QStringLiteral("Exit"));
  EXPECT_EQ(form_->FileExit1->statusTip(), QStringLiteral("Quits the application"));
  EXPECT_TRUE(TooltipShownFor(exit).isEmpty());
  EXPECT_TRUE(TooltipShownFor(ButtonFor(toolbar, form_->actRepair)).isEmpty());

  DragToolbar(toolbar, form_->mapToGlobal(QPoint(200, 450)));
  ASSERT_TRUE(toolbar->isFloating());
  EXPECT_EQ(TooltipShownFor(exit), QStringLiteral("Exit"));
  EXPECT_TRUE(form_->isVisible()) << "the tooltip of Exit does not close the window";
  QToolTip::hideText();
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
