// Recover from card as the user sees it: the chooser of attached cards and
// the grid of the photos that came back.
#include "app/CardChooser.h"
#include "app/PictureView.h"
#include "analysis/RootHeapEnd.h"
#include "app/RecoveredGrid.h"
#include "devices/OutputOnCard.h"
#include "recovery/ShotTime.h"
#include "recovery/CardRecovery.h"
#include "recovery/RecoveryLimits.h"
#include "tests/app/WindowFixture.h"
#include "tests/app/WindowTestMain.h"
#include "tests/support/BlockDeviceFixtures.h"
#include "tests/support/CardImage.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedLayout>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace mendrake::testing {
namespace {

constexpr char kPictures[] = "/home/ann/Pictures";
constexpr char kToday[] = "2026-12-09";

AttachedCard Card(const std::string& path, const std::string& whole, const std::string& fileSystem,
                  const std::string& label, const std::string& description, bool removable = true) {
  AttachedCard card;
  card.path = path;
  card.wholePath = whole;
  card.size = std::int64_t{512} << 20;
  card.fileSystem = fileSystem;
  card.partitionTable = whole.empty() && fileSystem.empty() ? "dos" : "";
  card.label = label;
  card.description = description;
  card.removable = removable;
  return card;
}

// What the kernel would list; the test changes it between refreshes.
struct FakeDevices {
  std::vector<AttachedCard> cards = {Card("/dev/sdb", "", "", "", "Generic CF Reader"),
                                     Card("/dev/sdb1", "/dev/sdb", "FAT16", "EOS_DIGITAL", "Generic CF Reader")};
  std::vector<AttachedCard> fixed = {Card("/dev/sda", "", "ext4", "", "Samsung SSD 860", false)};
  std::vector<bool> asked;  // allDrives of each listing

  // The state changes with the cards attached, as the kernel's would.
  CardChooser::CardSource Lister() {
    return {[this](bool allDrives) {
              asked.push_back(allDrives);
              std::vector<AttachedCard> listed = allDrives ? fixed : std::vector<AttachedCard>{};
              listed.insert(listed.end(), cards.begin(), cards.end());
              return listed;
            },
            [this] { return CardListText(cards) + CardListText(fixed); }};
  }
};

QStringList Rows(const QTreeWidget& list) {
  QStringList rows;
  for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&list)); *it; ++it) {
    QString row = (*it)->parent() ? QStringLiteral("  ") : QString();
    for (int column = 0; column < list.columnCount(); ++column) {
      row += (column ? QStringLiteral(" | ") : QString()) + (*it)->text(column);
    }
    rows << row;
  }
  return rows;
}

QString Selected(const QTreeWidget& list) {
  return list.selectedItems().isEmpty() ? QString() : list.selectedItems().first()->text(4);
}

class CardChooserTest : public ::testing::Test {
 protected:
  ScriptedDialogs dialogs;
  FakeDevices devices;
};

TEST_F(CardChooserTest, ListsTheCardsWithTheirPartitionsAndProposesAFolderNamedAfterTheLabelAndTheDay) {
  CardChooser chooser(dialogs, devices.Lister(), QString::fromLatin1(kPictures), QString::fromLatin1(kToday));
  EXPECT_EQ(Rows(*chooser.CardList),
            QStringList({"Generic CF Reader |  | partitioned (dos) | 512 MiB | /dev/sdb",
                         "  EOS_DIGITAL | EOS_DIGITAL | FAT16 | 512 MiB | /dev/sdb1"}));
  EXPECT_FALSE(chooser.EmptyNote->isVisibleTo(&chooser));
  // The partition with the file system is the likeliest choice.
  EXPECT_EQ(Selected(*chooser.CardList), "/dev/sdb1");
  EXPECT_EQ(chooser.OutputFolder->text(), "/home/ann/Pictures/Recovered from EOS_DIGITAL 2026-12-09");
  ASSERT_TRUE(chooser.Choice());
  EXPECT_EQ(chooser.Choice()->source, "/dev/sdb1");

  // The whole device can be chosen too; unlabelled, it is named after its partition's label... or none.
  chooser.CardList->setCurrentItem(chooser.CardList->topLevelItem(0));
  EXPECT_EQ(chooser.Choice()->source, "/dev/sdb");
  EXPECT_EQ(chooser.OutputFolder->text(), "/home/ann/Pictures/Recovered from card 2026-12-09");

  // Fixed disks only with "Show all drives".
  EXPECT_EQ(devices.asked, std::vector<bool>({false}));
  chooser.ShowAllDrives->setChecked(true);
  EXPECT_EQ(devices.asked.back(), true);
  EXPECT_EQ(chooser.CardList->topLevelItemCount(), 2);
  EXPECT_EQ(chooser.CardList->topLevelItem(0)->text(4), "/dev/sda");
  EXPECT_EQ(Selected(*chooser.CardList), "/dev/sdb") << "the choice stays";
}

TEST_F(CardChooserTest, FollowsCardsPutInAndTakenOutWhileItIsOpen) {
  devices.cards.clear();
  CardChooser chooser(dialogs, devices.Lister(), QString::fromLatin1(kPictures), QString::fromLatin1(kToday));
  EXPECT_TRUE(chooser.RefreshTimer->isActive());
  EXPECT_EQ(chooser.RefreshTimer->interval(), 1000);
  EXPECT_EQ(chooser.CardList->topLevelItemCount(), 0);
  EXPECT_TRUE(chooser.EmptyNote->isVisibleTo(&chooser));
  EXPECT_FALSE(chooser.RecoverButton->isEnabled());

  // The card goes in: listed and chosen at the next reading of the list.
  devices.cards = FakeDevices().cards;
  chooser.Refresh();
  EXPECT_EQ(chooser.CardList->topLevelItemCount(), 1);
  EXPECT_FALSE(chooser.EmptyNote->isVisibleTo(&chooser));
  EXPECT_EQ(Selected(*chooser.CardList), "/dev/sdb1");
  EXPECT_TRUE(chooser.RecoverButton->isEnabled());

  // Nothing changed: the devices are not probed again.
  const std::size_t listings = devices.asked.size();
  chooser.Refresh();
  EXPECT_EQ(devices.asked.size(), listings);

  // A second reader: the choice stays where it was.
  devices.cards.push_back(Card("/dev/mmcblk0", "", "exFAT", "CANON", "SD32G"));
  chooser.Refresh();
  EXPECT_EQ(Rows(*chooser.CardList).size(), 3);
  EXPECT_EQ(Selected(*chooser.CardList), "/dev/sdb1");

  // The chosen card is taken out: nothing is chosen, and Recover waits for a choice.
  devices.cards.erase(devices.cards.begin(), devices.cards.begin() + 2);
  chooser.Refresh();
  EXPECT_EQ(Rows(*chooser.CardList), QStringList({"SD32G | CANON | exFAT | 512 MiB | /dev/mmcblk0"}));
  EXPECT_EQ(Selected(*chooser.CardList), "");
  EXPECT_FALSE(chooser.Choice());
}

TEST_F(CardChooserTest, AnImageFileAndAnotherFolderAreChosenThroughTheirDialogs) {
  CardChooser chooser(dialogs, devices.Lister(), QString::fromLatin1(kPictures), QString::fromLatin1(kToday));
  dialogs.imageFileAnswer = QStringLiteral("/home/ann/cards/wedding.img");
  QTest::mouseClick(chooser.ImageFileButton, Qt::LeftButton);
  EXPECT_EQ(chooser.CardList->topLevelItem(0)->text(0), "wedding.img (image file)");
  EXPECT_EQ(chooser.Choice()->source, "/home/ann/cards/wedding.img");
  EXPECT_EQ(chooser.OutputFolder->text(), "/home/ann/Pictures/Recovered from wedding 2026-12-09");
  // The image stays listed while the list is read again.
  devices.cards.pop_back();
  chooser.Refresh();
  EXPECT_EQ(chooser.Choice()->source, "/home/ann/cards/wedding.img");

  dialogs.folderAnswer = QStringLiteral("/media/backup/wedding");
  QTest::mouseClick(chooser.ChangeFolderButton, Qt::LeftButton);
  EXPECT_EQ(dialogs.folderProposals,
            std::vector<QString>({"/home/ann/Pictures/Recovered from wedding 2026-12-09"}));
  EXPECT_EQ(chooser.Choice()->outputFolder, "/media/backup/wedding");
  // A folder the user chose stays when another card is picked.
  chooser.CardList->setCurrentItem(chooser.CardList->topLevelItem(1));
  EXPECT_EQ(chooser.Choice()->source, "/dev/sdb");
  EXPECT_EQ(chooser.Choice()->outputFolder, "/media/backup/wedding");
  // Photos the card still lists are left there unless asked for.
  EXPECT_FALSE(chooser.Choice()->all);
  chooser.RecoverListed->click();
  EXPECT_TRUE(chooser.Choice()->all);
  // No image is made unless asked for.
  EXPECT_EQ(chooser.SaveImage->text(), "Also save an &image of the card");
  EXPECT_FALSE(chooser.Choice()->saveImage);
  chooser.SaveImage->click();
  EXPECT_TRUE(chooser.Choice()->saveImage);
}

TEST_F(CardChooserTest, AFolderOnTheChosenCardIsRefusedInTheChooserAlready) {
  if (const std::string why = WhyNoLoopDevices(); !why.empty()) GTEST_SKIP() << why;
  QTemporaryDir scratch;
  const std::string image = QFile::encodeName(scratch.filePath(QStringLiteral("disk.img"))).toStdString();
  ASSERT_TRUE(MakeExt4Image(image, 16));
  LoopDevice loop(image);
  ASSERT_FALSE(loop.path().empty());
  MountedFolder mounted(loop.path(), QFile::encodeName(scratch.filePath(QStringLiteral("mnt"))).toStdString());
  ASSERT_TRUE(mounted.mounted());
  devices.cards = {Card(loop.path(), "", "ext4", "", image)};
  CardChooser chooser(dialogs, devices.Lister(), QString::fromLatin1(kPictures), QString::fromLatin1(kToday));
  EXPECT_FALSE(chooser.FolderWarning->isVisibleTo(&chooser));
  chooser.OutputFolder->setText(QString::fromStdString(mounted.folder() + "/out"));
  QTest::keyClick(chooser.OutputFolder, Qt::Key_End);  // an edit: the state follows the typed text
  emit chooser.OutputFolder->textEdited(chooser.OutputFolder->text());
  EXPECT_TRUE(chooser.FolderWarning->isVisibleTo(&chooser));
  EXPECT_EQ(chooser.FolderWarning->text().toStdString(), kOutputOnCardMessage);
  EXPECT_FALSE(chooser.RecoverButton->isEnabled());
  EXPECT_FALSE(chooser.Choice());
}

using WindowCards = WindowTest;

Bytes Photo(QColor colour, std::size_t junk = 0) { return MakeFileWithJpeg(64, 48, colour, junk); }

TEST_F(WindowCards, TheRecoveredPhotosAreShownAsAGridUntilTheNextCommand) {
  Bytes card(16 * 32768, 0);
  const Bytes first = Photo(Qt::blue);
  const Bytes second = Photo(Qt::red);
  std::copy(first.begin(), first.end(), card.begin() + 32768);
  std::copy(second.begin(), second.end(), card.begin() + 4 * 32768);
  // The last one, at a sector start, cut by the end of the card: kept as damaged.
  constexpr int kCut = 3072;
  std::copy(first.begin(), first.begin() + kCut, card.end() - kCut);
  dialogs_.cardAnswer = WriteTestFile(QStringLiteral("card.img"), card);
  dialogs_.folderAnswer = PathIn(QStringLiteral("Recovered from card 2026-12-09"));
  form_->actRecover->trigger();
  ASSERT_TRUE(dialogs_.errors.empty()) << dialogs_.errors.front().toStdString();

  RecoveredGrid& grid = *form_->Grid1;
  ASSERT_TRUE(grid.isVisible());
  EXPECT_FALSE(form_->Image1->isVisible());
  // These files record no shot time: one heading over them, in card order.
  ASSERT_EQ(grid.count(), 4);
  EXPECT_EQ(grid.item(0)->text(), QStringLiteral("Shot time unknown, 3 photos"));
  const QString size = QString::fromStdString(DeviceSizeText(static_cast<std::int64_t>(first.size())));
  EXPECT_EQ(grid.item(1)->text(), "CRW_0001.CRW\n" + size + "\nCanon EOS D60");
  EXPECT_EQ(grid.item(2)->text().section('\n', 0, 0), "CRW_0001 (2).CRW");
  EXPECT_EQ(grid.item(3)->text(), QStringLiteral("CRW_at_%1.damaged\n%2\ndamaged: no true end found")
                                      .arg(card.size() - kCut)
                                      .arg(QString::fromStdString(DeviceSizeText(kCut))));
  // Each photo shows its own thumbnail: blue, then red.
  const QImage blue = grid.item(1)->icon().pixmap(RecoveredGrid::kThumbnailSize).toImage();
  const QImage red = grid.item(2)->icon().pixmap(RecoveredGrid::kThumbnailSize).toImage();
  const QPoint corner(RecoveredGrid::kThumbnailSize.width() / 2 - 30, RecoveredGrid::kThumbnailSize.height() / 2 - 20);
  EXPECT_GT(QColor(blue.pixel(corner)).blue(), 200);
  EXPECT_GT(QColor(red.pixel(corner)).red(), 200);
  EXPECT_TRUE(LogLines().last().startsWith("Recovered 2 CRW files, 1 damaged")) << LogLines().last().toStdString();

  // A double click opens the photo as Repair/Open does: its lines, its preview; the grid goes.
  const QRect cell = grid.visualItemRect(grid.item(2));
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  QTest::mouseDClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  Settle();
  EXPECT_FALSE(grid.isVisible());
  EXPECT_EQ(grid.count(), 0);
  EXPECT_TRUE(form_->Image1->isVisible());
  EXPECT_TRUE(LogLines().join('\n').contains("CRW_0001 (2).CRW")) << LogLines().join('\n').toStdString();
  EXPECT_GT(QColor(form_->Image1->Picture().pixel(2, 2)).red(), 200) << "the red photo's preview";

  // A recovery that finds nothing shows no grid; the log says so.
  dialogs_.cardAnswer = WriteTestFile(QStringLiteral("empty.img"), Bytes(32768, 0));
  form_->actRecover->trigger();
  EXPECT_FALSE(grid.isVisible());
  EXPECT_TRUE(LogLines().last().startsWith("Recovered 0 CRW files, 0 damaged"));
}

// The progress dialog's label each time the window handled its events
// during a card recovery: a call posted before the run looks at the label
// and posts itself again, so it runs at each round of events the recovery
// lets the window have, and each text shown is seen in order (a text seen
// again in a row is kept once). No timer is involved.
class ProgressLabels {
 public:
  explicit ProgressLabels(TForm1& form) : form_(form) { Post(); }
  const QStringList& Seen() const { return seen_; }

 private:
  void Post() {
    QMetaObject::invokeMethod(&form_, [this] { Look(); }, Qt::QueuedConnection);
  }
  void Look() {
    const auto* dialog = form_.findChild<QProgressDialog*>(QStringLiteral("RecoveryProgress"));
    const bool shown = dialog && dialog->isVisible() && form_.RunInProgress();
    if (shown && (seen_.isEmpty() || seen_.last() != dialog->labelText())) seen_ << dialog->labelText();
    if (form_.RunInProgress() || seen_.isEmpty()) Post();
  }

  TForm1& form_;
  QStringList seen_;
};

TEST_F(WindowCards, TheProgressSaysWhatWasReadThePaceTheTimeLeftAndTheFilesFoundWhileTheCardIsRead) {
  // Three reads' worth of card, a photo in the first and one in the second:
  // each is found within its own read, once a trailer's length past its end
  // has been read.
  const std::int64_t block = RecoveryLimits::kReadSize;
  Bytes card(static_cast<std::size_t>(3 * block), 0);
  const Bytes photo = Photo(Qt::blue);
  ASSERT_LT(32768 + static_cast<std::int64_t>(photo.size()) + kMaxRootHeapTrailer, block);
  std::copy(photo.begin(), photo.end(), card.begin() + 32768);
  std::copy(photo.begin(), photo.end(), card.begin() + block + 32768);
  const QString image = WriteTestFile(QStringLiteral("card.img"), card);
  dialogs_.cardAnswer = image;
  dialogs_.folderAnswer = PathIn(QStringLiteral("Recovered"));
  const ProgressLabels labels(*form_);
  form_->actRecover->trigger();
  ASSERT_TRUE(dialogs_.errors.empty()) << dialogs_.errors.front().toStdString();
  EXPECT_TRUE(LogLines().last().startsWith("Recovered 2 CRW files, 0 damaged")) << LogLines().last().toStdString();

  // The pace and the time left come from the clock: their form is checked,
  // and they are left out of the texts compared.
  const QRegularExpression pace(
      QStringLiteral(", \\d+\\.\\d MiB/s, (\\d+ s|\\d+ min \\d\\d s|\\d+ h \\d\\d min) left,"));
  std::vector<std::string> shown;
  for (QString label : labels.Seen()) {
    if (!label.contains('\n')) continue;  // before the first read
    EXPECT_TRUE(pace.match(label).hasMatch()) << label.toStdString();
    label.replace(pace, QStringLiteral(", (pace), (time left),"));
    if (shown.empty() || shown.back() != label.toStdString()) shown.push_back(label.toStdString());
  }
  const std::string heading = "Recovering CRW files from " + image.toStdString() + "\n";
  const auto mib = [](std::int64_t bytes) {
    return QString::number(static_cast<double>(bytes) / (1 << 20), 'f', 1).toStdString();
  };
  const auto read = [&](int blocks, const std::string& found) {
    return heading + mib(blocks * block) + " MiB of " + mib(3 * block) + " MiB read, (pace), (time left), " + found;
  };
  // The dialog closes once the card's last read fills its bar, so the last
  // text seen is the one after the second read, which counts both photos.
  ASSERT_FALSE(shown.empty()) << "no progress was shown during the recovery";
  EXPECT_EQ(shown.front(), read(1, "0 files found"));
  EXPECT_EQ(shown.back(), read(2, "2 files found"));
  EXPECT_EQ(form_->findChild<QProgressDialog*>(QStringLiteral("RecoveryProgress")), nullptr)
      << "the dialog is gone once the run ends";
}

// A photo of the given colour shot at the camera's clock reading "YYYY:MM:DD HH:MM:SS".
Bytes ShotPhoto(QColor colour, const char* when, std::uint32_t number) {
  CameraFileOptions options;
  options.thumbnail = MakeJpeg(64, 48, colour);
  options.timeStamp = static_cast<std::uint32_t>(*ParseExifTime(when));
  options.fileNumber = number;
  options.thumbnailFirst = true;
  options.rawDataSize = 20000;
  return MakeCameraFile(options);
}

TEST_F(WindowCards, TheGridShowsThePhotosByDayInShotOrderAndADamagedFilesOwnJpeg) {
  Bytes card(16 * 32768, 0);
  const auto place = [&card](const Bytes& file, std::size_t cluster) {
    std::copy(file.begin(), file.end(), card.begin() + static_cast<std::ptrdiff_t>(cluster * 32768));
  };
  place(ShotPhoto(Qt::blue, "2003:11:10 08:15:00", 1000003), 1);
  place(ShotPhoto(Qt::red, "2003:11:09 17:39:26", 1000002), 3);
  place(ShotPhoto(Qt::green, "2003:11:09 09:00:00", 1000001), 5);
  // Cut inside its raw data, its JPEG whole: the grid shows that JPEG, marked.
  const Bytes cut = ShotPhoto(Qt::yellow, "2003:11:10 09:00:00", 1000004);
  constexpr std::size_t kKept = 24 * 512;  // from a sector start
  std::copy(cut.begin(), cut.begin() + kKept, card.end() - kKept);
  dialogs_.cardAnswer = WriteTestFile(QStringLiteral("card.img"), card);
  dialogs_.folderAnswer = PathIn(QStringLiteral("Recovered by day"));
  form_->actRecover->trigger();
  ASSERT_TRUE(dialogs_.errors.empty()) << dialogs_.errors.front().toStdString();

  RecoveredGrid& grid = *form_->Grid1;
  ASSERT_EQ(grid.count(), 7);
  EXPECT_EQ(grid.item(0)->text(), QStringLiteral("9 November 2003, 2 photos"));
  EXPECT_TRUE(grid.item(1)->text().startsWith(QStringLiteral("CRW_0001.CRW\n09:00:00, ")));
  EXPECT_TRUE(grid.item(2)->text().startsWith(QStringLiteral("CRW_0002.CRW\n17:39:26, ")));
  EXPECT_EQ(grid.item(3)->text(), QStringLiteral("10 November 2003, 1 photo"));
  EXPECT_TRUE(grid.item(4)->text().startsWith(QStringLiteral("CRW_0003.CRW\n08:15:00, ")));
  EXPECT_EQ(grid.item(5)->text(), QStringLiteral("Shot time unknown, 1 photo"));
  EXPECT_TRUE(grid.item(6)->text().startsWith(QStringLiteral("CRW_at_")));
  EXPECT_TRUE(grid.item(6)->text().endsWith(QStringLiteral("\ndamaged: its JPEG shown"))) << grid.item(6)->text().toStdString();
  // Headings open nothing and take the whole width: each day starts a row.
  EXPECT_FALSE(grid.item(0)->flags() & Qt::ItemIsSelectable);
  EXPECT_GT(grid.visualItemRect(grid.item(4)).top(), grid.visualItemRect(grid.item(2)).bottom());
  const QImage damaged = grid.item(6)->icon().pixmap(RecoveredGrid::kThumbnailSize).toImage();
  // Away from the white patch in the picture's middle.
  const QColor middle(damaged.pixel(20, 20));
  EXPECT_GT(middle.red(), 200);
  EXPECT_GT(middle.green(), 200);
  EXPECT_LT(middle.blue(), 90);
  const QColor band(damaged.pixel(4, RecoveredGrid::kThumbnailSize.height() - 4));  // a 4:3 picture fills the cell
  EXPECT_GT(band.red(), 120);
  EXPECT_LT(band.green(), 120);
}

TEST_F(WindowCards, PhotosTheCardStillListsAreCountedAndCopiedOnlyWhenAskedFor) {
  CardImageOptions options;
  const Bytes photo = MakeCameraFile(CameraFileOptions{});
  options.files = {{"CRW_0001.CRW", photo}};
  const QString image = PathIn(QStringLiteral("card.img"));
  std::string why;
  ASSERT_TRUE(MakeFatCardImage(QFile::encodeName(image).toStdString(), options, &why)) << why;
  dialogs_.cardAnswer = image;

  dialogs_.folderAnswer = PathIn(QStringLiteral("listed-left"));
  form_->actRecover->trigger();
  EXPECT_TRUE(QDir(*dialogs_.folderAnswer).entryList(QDir::Files).isEmpty());
  EXPECT_TRUE(LogLines().join('\n').contains(QString::fromStdString(ListedFilesLine(1))))
      << LogLines().join('\n').toStdString();

  dialogs_.allAnswer = true;
  dialogs_.folderAnswer = PathIn(QStringLiteral("all"));
  form_->actRecover->trigger();
  EXPECT_EQ(ReadFile(QFile::encodeName(*dialogs_.folderAnswer + QStringLiteral("/CRW_0001.CRW")).toStdString()), photo);
}

TEST_F(WindowCards, AnImageOfTheCardIsSavedBesideThePhotosWhenAskedForAndNeverReplaced) {
  Bytes card;
  AppendJunk(card, JunkKind::kRandom, 12 * 32768, 3);
  const Bytes photo = Photo(Qt::blue);
  std::copy(photo.begin(), photo.end(), card.begin() + 32768);
  dialogs_.cardAnswer = WriteTestFile(QStringLiteral("card.img"), card);
  dialogs_.folderAnswer = PathIn(QStringLiteral("with image"));
  dialogs_.saveImageAnswer = true;
  form_->actRecover->trigger();
  ASSERT_TRUE(dialogs_.errors.empty()) << dialogs_.errors.front().toStdString();
  const std::string folder = QFile::encodeName(*dialogs_.folderAnswer).toStdString();
  EXPECT_EQ(ReadFile(folder + "/card.img"), card);
  const Bytes map = ReadFile(folder + "/card.img.map");
  EXPECT_NE(std::string(map.begin(), map.end()).find("\n0x00000000  0x00060000  +\n"), std::string::npos);
  EXPECT_TRUE(LogLines().join('\n').contains(QStringLiteral("Image of the card: %1/card.img, 393216 bytes read into it")
                                                  .arg(*dialogs_.folderAnswer)))
      << LogLines().join('\n').toStdString();
  EXPECT_EQ(ReadFile(folder + "/CRW_0001.CRW"), photo);

  // Into the same folder again: a second image beside the first.
  form_->actRecover->trigger();
  EXPECT_EQ(ReadFile(folder + "/card (2).img"), card);
  EXPECT_EQ(ReadFile(folder + "/card.img"), card);
}

TEST_F(WindowCards, AFullOutputDiskIsToldAndWhatWasWrittenIsShown) {
  if (const std::string why = WhyNoLoopDevices(); !why.empty()) GTEST_SKIP() << "mounting a tmpfs: " << why;
  Bytes card(40 * 32768, 0);
  // Four photos of about 150 KB; the output disk holds two.
  for (int i = 0; i < 4; ++i) {
    CameraFileOptions options;
    options.rawDataSize = 150000;
    options.whiteBalance = static_cast<std::uint16_t>(i + 1);
    options.thumbnail = MakeJpeg(64, 48, Qt::green);
    const Bytes photo = MakeCameraFile(options);
    std::copy(photo.begin(), photo.end(), card.begin() + (1 + 8 * i) * 32768);
  }
  dialogs_.cardAnswer = WriteTestFile(QStringLiteral("card.img"), card);
  MountedFolder full("tmpfs", QFile::encodeName(PathIn(QStringLiteral("full"))).toStdString(), "size=400k", "tmpfs");
  ASSERT_TRUE(full.mounted());
  dialogs_.folderAnswer = PathIn(QStringLiteral("full"));
  form_->actRecover->trigger();
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_TRUE(dialogs_.errors.front().startsWith("Stopped: the output disk is full. 2 CRW files, 0 damaged, were written."))
      << dialogs_.errors.front().toStdString();
  EXPECT_EQ(LogLines().last(), dialogs_.errors.front());
  EXPECT_EQ(form_->Grid1->count(), 3);  // their heading and the two
  EXPECT_TRUE(form_->Grid1->isVisible());
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()
