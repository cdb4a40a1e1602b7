#include "app/CardChooser.h"

#include "app/RecoveredFolder.h"
#include "devices/OutputOnCard.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace mendrake {
namespace {

enum Column { kName, kLabel, kFileSystem, kSize, kDevice, kColumnCount };
constexpr int kPathRole = Qt::UserRole;
constexpr int kCardNameRole = Qt::UserRole + 1;
constexpr QSize kDialogSize(640, 420);

QString FromSystem(const std::string& text) { return QFile::decodeName(QByteArray::fromStdString(text)); }
std::string ToSystem(const QString& text) { return QFile::encodeName(text).toStdString(); }

// A whole device by its vendor and model, a loop device by its image file,
// a partition by its label.
QString ShownName(const AttachedCard& card) {
  if (card.IsPartition()) {
    return card.label.empty() ? QStringLiteral("Partition %1").arg(FromSystem(card.path).section(QLatin1Char('/'), -1))
                              : FromSystem(card.label);
  }
  if (card.path.find("/loop") != std::string::npos && !card.description.empty()) {
    return QFileInfo(FromSystem(card.description)).fileName() + QStringLiteral(" (image on a loop device)");
  }
  return card.description.empty() ? QStringLiteral("Drive") : FromSystem(card.description);
}

QString ShownFileSystem(const AttachedCard& card) {
  if (!card.fileSystem.empty()) return FromSystem(card.fileSystem);
  if (!card.partitionTable.empty()) return QStringLiteral("partitioned (%1)").arg(FromSystem(card.partitionTable));
  return QStringLiteral("none found");
}

QTreeWidgetItem* NewItem(const AttachedCard& card) {
  auto* item = new QTreeWidgetItem;
  item->setText(kName, ShownName(card));
  item->setText(kLabel, FromSystem(card.label));
  item->setText(kFileSystem, ShownFileSystem(card));
  item->setText(kSize, FromSystem(DeviceSizeText(card.size)));
  item->setText(kDevice, FromSystem(card.path));
  item->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
  if (!card.mountPoint.empty()) item->setToolTip(kName, QStringLiteral("Mounted at %1").arg(FromSystem(card.mountPoint)));
  item->setData(kName, kPathRole, FromSystem(card.path));
  item->setData(kName, kCardNameRole, FromSystem(card.label));
  return item;
}

}  // namespace

CardChooser::CardChooser(Dialogs& dialogs, CardSource cards, const QString& picturesFolder, const QString& today,
                         QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), cards_(std::move(cards)), picturesFolder_(picturesFolder), today_(today) {
  setObjectName(QStringLiteral("CardChooser"));
  setWindowTitle(QStringLiteral("Recover from card"));
  resize(kDialogSize);

  auto* lead = new QLabel(QStringLiteral("Choose the card, or one of its partitions, to recover photos from:"));
  CardList = new QTreeWidget;
  CardList->setObjectName(QStringLiteral("CardList"));
  CardList->setColumnCount(kColumnCount);
  CardList->setHeaderLabels({QStringLiteral("Card"), QStringLiteral("Label"), QStringLiteral("File system"),
                             QStringLiteral("Size"), QStringLiteral("Device")});
  CardList->setRootIsDecorated(true);
  CardList->setUniformRowHeights(true);
  CardList->header()->setStretchLastSection(false);
  CardList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  CardList->header()->setSectionResizeMode(kName, QHeaderView::Stretch);
  EmptyNote = new QLabel(QStringLiteral("No card found. Put the card in its reader, tick \"Show all drives\", or "
                                        "choose a card image file."));
  EmptyNote->setObjectName(QStringLiteral("EmptyNote"));
  EmptyNote->setWordWrap(true);

  ShowAllDrives = new QCheckBox(QStringLiteral("Show &all drives"));
  ShowAllDrives->setObjectName(QStringLiteral("ShowAllDrives"));
  ImageFileButton = new QPushButton(QStringLiteral("Card &image file..."));
  ImageFileButton->setObjectName(QStringLiteral("ImageFileButton"));
  ImageFileButton->setAutoDefault(false);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(ShowAllDrives);
  listRow->addStretch();
  listRow->addWidget(ImageFileButton);

  auto* folderLabel = new QLabel(QStringLiteral("Save the recovered photos &in:"));
  OutputFolder = new QLineEdit;
  OutputFolder->setObjectName(QStringLiteral("OutputFolder"));
  folderLabel->setBuddy(OutputFolder);
  ChangeFolderButton = new QPushButton(QStringLiteral("C&hange..."));
  ChangeFolderButton->setObjectName(QStringLiteral("ChangeFolderButton"));
  ChangeFolderButton->setAutoDefault(false);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(OutputFolder, 1);
  folderRow->addWidget(ChangeFolderButton);
  FolderWarning = new QLabel(QString::fromLatin1(kOutputOnCardMessage));
  FolderWarning->setObjectName(QStringLiteral("FolderWarning"));
  FolderWarning->setWordWrap(true);
  QPalette warning = FolderWarning->palette();
  warning.setColor(QPalette::WindowText, Qt::darkRed);
  FolderWarning->setPalette(warning);
  // Files the card still lists are there to copy as they are; a card
  // recovered after a computer's delete may want them all the same.
  RecoverListed = new QCheckBox(QStringLiteral("Also recover the photos the card still &lists"));
  RecoverListed->setObjectName(QStringLiteral("RecoverListed"));
  // A failing card is read once: what it gave is kept for ddrescue and for
  // another recovery from the image.
  SaveImage = new QCheckBox(QStringLiteral("Also save an &image of the card"));
  SaveImage->setObjectName(QStringLiteral("SaveImage"));
  SaveImage->setToolTip(QStringLiteral("Every byte read goes into card.img in the folder above, with a GNU ddrescue "
                                       "mapfile beside it that lists what could not be read"));

  auto* buttons = new QDialogButtonBox;
  RecoverButton = buttons->addButton(QStringLiteral("&Recover"), QDialogButtonBox::AcceptRole);
  RecoverButton->setObjectName(QStringLiteral("RecoverButton"));
  RecoverButton->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lead);
  layout->addWidget(CardList, 1);
  layout->addWidget(EmptyNote);
  layout->addLayout(listRow);
  layout->addSpacing(8);
  layout->addWidget(folderLabel);
  layout->addLayout(folderRow);
  layout->addWidget(FolderWarning);
  layout->addWidget(RecoverListed);
  layout->addWidget(SaveImage);
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(ShowAllDrives, &QCheckBox::toggled, this, &CardChooser::Refresh);
  connect(ImageFileButton, &QPushButton::clicked, this, &CardChooser::ChooseImageFile);
  connect(ChangeFolderButton, &QPushButton::clicked, this, &CardChooser::ChangeFolder);
  connect(CardList, &QTreeWidget::itemSelectionChanged, this, &CardChooser::SelectionChanged);
  connect(CardList, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (RecoverButton->isEnabled()) accept();
  });
  connect(OutputFolder, &QLineEdit::textEdited, this, [this] {
    folderChosen_ = true;
    UpdateState();
  });

  RefreshTimer = new QTimer(this);
  RefreshTimer->setInterval(kRefreshIntervalMs);
  connect(RefreshTimer, &QTimer::timeout, this, &CardChooser::Refresh);
  RefreshTimer->start();
  Refresh();
}

void CardChooser::Refresh() {
  // Devices are probed only when something changed: reading every card's
  // file system each second would keep readers and disks busy.
  const std::string state = cards_.state();
  const bool allDrives = ShowAllDrives->isChecked();
  if (!listedState_.empty() && state == listedState_ && allDrives == listedAllDrives_) return;
  listedState_ = state;
  listedAllDrives_ = allDrives;
  const std::vector<AttachedCard> cards = cards_.list(allDrives);
  // Rebuilt only when the list changed, so the selection and the scroll
  // position stay while the user looks.
  if (CardListText(cards) == CardListText(shown_) && CardList->topLevelItemCount() > 0) return;
  Rebuild(cards);
}

void CardChooser::Rebuild(const std::vector<AttachedCard>& cards) {
  const QString selected = SelectedSource();
  const bool firstTime = shown_.empty() && CardList->topLevelItemCount() == 0;
  shown_ = cards;
  const QSignalBlocker quiet(CardList);
  CardList->clear();
  if (!imageFile_.isEmpty()) {
    auto* image = new QTreeWidgetItem;
    image->setText(kName, QFileInfo(imageFile_).fileName() + QStringLiteral(" (image file)"));
    image->setText(kFileSystem, QStringLiteral("image file"));
    image->setText(kSize, FromSystem(DeviceSizeText(QFileInfo(imageFile_).size())));
    image->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
    image->setText(kDevice, imageFile_);
    image->setData(kName, kPathRole, imageFile_);
    image->setData(kName, kCardNameRole, QFileInfo(imageFile_).completeBaseName());
    CardList->addTopLevelItem(image);
  }
  QTreeWidgetItem* whole = nullptr;
  for (const AttachedCard& card : cards) {
    QTreeWidgetItem* item = NewItem(card);
    if (card.IsPartition() && whole != nullptr) {
      whole->addChild(item);
    } else {
      CardList->addTopLevelItem(item);
      whole = item;
    }
  }
  CardList->expandAll();
  EmptyNote->setVisible(CardList->topLevelItemCount() == 0);
  if (!selected.isEmpty()) {
    SelectPath(selected);
  } else if (firstTime) {
    // The likeliest choice: the first partition that holds a file system, else the first card.
    for (const AttachedCard& card : cards) {
      if (card.IsPartition() && !card.fileSystem.empty()) {
        SelectPath(FromSystem(card.path));
        break;
      }
    }
    if (CardList->selectedItems().isEmpty() && CardList->topLevelItemCount() > 0) {
      CardList->setCurrentItem(CardList->topLevelItem(0));
    }
  }
  SelectionChanged();
}

void CardChooser::SelectPath(const QString& path) {
  for (QTreeWidgetItemIterator it(CardList); *it; ++it) {
    if ((*it)->data(kName, kPathRole).toString() == path) {
      CardList->setCurrentItem(*it);
      return;
    }
  }
}

QString CardChooser::SelectedSource() const {
  const QList<QTreeWidgetItem*> selected = CardList->selectedItems();
  return selected.isEmpty() ? QString() : selected.first()->data(kName, kPathRole).toString();
}

void CardChooser::ChooseImageFile() {
  const std::optional<QString> file = dialogs_.AskCardImageFile(this);
  if (!file || file->isEmpty()) return;
  imageFile_ = *file;
  Rebuild(shown_);
  SelectPath(imageFile_);
}

void CardChooser::ChangeFolder() {
  const std::optional<QString> folder = dialogs_.AskOutputFolder(this, OutputFolder->text());
  if (!folder || folder->isEmpty()) return;
  OutputFolder->setText(*folder);
  folderChosen_ = true;
  UpdateState();
}

void CardChooser::SelectionChanged() {
  const QList<QTreeWidgetItem*> selected = CardList->selectedItems();
  if (!selected.isEmpty() && !folderChosen_) {
    // A partition without a label is named by its device's label, when it has one.
    QString name = selected.first()->data(kName, kCardNameRole).toString();
    for (QTreeWidgetItem* item = selected.first(); name.isEmpty() && item->parent(); item = item->parent()) {
      name = item->parent()->data(kName, kCardNameRole).toString();
    }
    OutputFolder->setText(
        FromSystem(DefaultRecoveredFolder(ToSystem(picturesFolder_), ToSystem(name), ToSystem(today_))));
  }
  UpdateState();
}

void CardChooser::UpdateState() {
  const QString source = SelectedSource();
  const QString folder = OutputFolder->text().trimmed();
  const bool onCard =
      !source.isEmpty() && !folder.isEmpty() && OutputFolderOnCard(ToSystem(source), ToSystem(folder)).has_value();
  FolderWarning->setVisible(onCard);
  RecoverButton->setEnabled(!source.isEmpty() && !folder.isEmpty() && !onCard);
}

std::optional<Dialogs::CardRecoveryChoice> CardChooser::Choice() const {
  if (!RecoverButton->isEnabled()) return std::nullopt;
  return Dialogs::CardRecoveryChoice{SelectedSource(), OutputFolder->text().trimmed(), RecoverListed->isChecked(),
                                     SaveImage->isChecked()};
}

}  // namespace mendrake
