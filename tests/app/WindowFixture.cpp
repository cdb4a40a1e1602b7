#include "tests/app/WindowFixture.h"

#include "app/LogMemo.h"
#include "app/QtPlatform.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QLayout>
#include <QMouseEvent>
#include <QStyle>
#include <QToolBar>
#include <QPainter>
#include <QTest>

namespace mendrake::testing {

std::vector<QString> ScriptedDialogs::AskOpenFileNames(QWidget*) {
  ++openRequests;
  std::vector<QString> answer;
  if (!openAnswers.empty()) {
    answer = openAnswers.front();
    openAnswers.pop_front();
  }
  if (afterOpen) {
    auto next = std::move(afterOpen);
    afterOpen = nullptr;
    next();
  }
  return answer;
}

std::optional<QString> ScriptedDialogs::AskSaveFileName(QWidget*, const QString& defaultSuffix,
                                                        const QStringList& nameFilters) {
  saveRequests.push_back({defaultSuffix, nameFilters});
  if (saveAnswers.empty()) return std::nullopt;
  const QString answer = saveAnswers.front();
  saveAnswers.pop_front();
  if (answer.isEmpty()) return std::nullopt;
  return answer;
}

bool ScriptedDialogs::OpenWebAddress(const QUrl& address) {
  openedAddresses.push_back(address);
  return browserOpens;
}

void ScriptedDialogs::ShowError(QWidget*, const QString&, const QString& text) { errors.push_back(text); }

void WindowTest::SetUp() {
  folder_ = std::make_unique<QTemporaryDir>();
  ASSERT_TRUE(folder_->isValid());
  form_ = std::make_unique<TForm1>(dialogs_);
  form_->show();
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
}

void WindowTest::TearDown() {
  form_.reset();
  Settle();
}

QString WindowTest::PathIn(const QString& name) const { return folder_->filePath(name); }

QString WindowTest::WriteTestFile(const QString& name, const Bytes& bytes) {
  const QString path = PathIn(name);
  WriteFile(QFile::encodeName(path).toStdString(), bytes);
  return path;
}

void WindowTest::RepairThrough(const std::vector<QString>& paths) {
  dialogs_.openAnswers.push_back(paths);
  form_->actRepair->trigger();
}

QStringList WindowTest::LogLines() const { return form_->Memo1->Lines(); }

void WindowTest::PressAccessKey(QWidget* target, Qt::Key letter, bool shift) {
  Qt::KeyboardModifiers modifiers = Qt::AltModifier;
  if (shift) modifiers |= Qt::ShiftModifier;
  QTest::keyClick(target, letter, modifiers);
}

void WindowTest::Settle() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
  }
}

const std::size_t WindowTest::kJunkOfSeveralClockChecks = 8 * Platform::kWorkUnitsPerClockCheck;

void WindowTest::DuringTheSearchOf(const QString& path, std::function<void()> action) {
  const QString started = QStringLiteral("Repairing file ") + path;
  auto posted = std::make_shared<bool>(false);
  form_->Platform().SetEventRoundChooser([this, started, posted, action = std::move(action)](long) {
    if (*posted || !LogLines().contains(started)) return false;
    *posted = true;
    QMetaObject::invokeMethod(
        form_.get(),
        [this, action] {
          actedDuringRun_ = form_->RunInProgress();
          action();
        },
        Qt::QueuedConnection);
    return true;
  });
}

// Drags the toolbar by its handle to a point on the screen, as the mouse would.
void DragToolbar(QToolBar* toolbar, QPoint screenTarget) {
  const int handleExtent = toolbar->style()->pixelMetric(QStyle::PM_ToolBarHandleExtent, nullptr, toolbar);
  const QPoint handle(toolbar->layout()->contentsMargins().left() + handleExtent / 2, toolbar->height() / 2);
  const QPoint start = toolbar->mapToGlobal(handle);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(handle), QPointF(start), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(toolbar, &press);
  constexpr int kSteps = 8;
  for (int step = 1; step <= kSteps; ++step) {
    const QPoint at = start + (screenTarget - start) * step / kSteps;
    QMouseEvent move(QEvent::MouseMove, QPointF(toolbar->mapFromGlobal(at)), QPointF(at), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(toolbar, &move);
    QCoreApplication::processEvents();
  }
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(toolbar->mapFromGlobal(screenTarget)),
                      QPointF(screenTarget), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(toolbar, &release);
  QCoreApplication::processEvents();
}

Bytes MakeJpeg(int width, int height, QColor colour) {
  QImage picture(width, height, QImage::Format_RGB32);
  picture.fill(colour);
  QPainter painter(&picture);
  painter.fillRect(width / 2 - width / 8, height / 2 - height / 8, width / 4, height / 4, Qt::white);
  painter.end();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!picture.save(&buffer, "JPG", 95)) return {};
  return Bytes(bytes.begin(), bytes.end());
}

Bytes MakeFileWithoutThumbnail() {
  CameraFileOptions options;
  HeapBuilder exif;
  exif.Record(0x102A, ShotInfoRecord(options.whiteBalance, false))
      .Record(0x1031, SensorInfoRecord(options.width, options.height, false))
      .Record(0x1835, Filler(64, 0x44));
  HeapBuilder camera;
  camera.Record(0x080A, MakeModelRecord(options.make, options.model));
  HeapBuilder properties;
  properties.SubHeap(0x300B, exif).SubHeap(0x2807, camera);
  CrwFile file;
  file.root.Record(0x2005, Filler(options.rawDataSize, 0x5A)).SubHeap(0x300A, properties);
  return file.Build();
}

Bytes MakeFileWithJpeg(int width, int height, QColor colour, std::size_t junk) {
  CameraFileOptions options;
  options.thumbnail = MakeJpeg(width, height, colour);
  Bytes file = MakeCameraFile(options);
  if (junk > 0) AppendJunk(file, JunkKind::kRandom, junk);
  return file;
}

}  // namespace mendrake::testing
