#include "app/ErrorReportDialog.h"

#include "crash/ReportStore.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTabWidget>
#include <QVBoxLayout>

namespace mendrake {

ErrorReportDialog::ErrorReportDialog(const QString& report, bool canGoOn, const QString& suggestedName,
                                     QWidget* parent)
    : QDialog(parent), report_(report), suggestedName_(suggestedName) {
  setObjectName(QStringLiteral("ErrorReportDialog"));
  setWindowTitle(QStringLiteral("Mendrake error report"));
  resize(820, 560);

  tabs_ = new QTabWidget;
  // The call stack and the registers line up in columns.
  QFont monospace = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  monospace.setFamilies({monospace.family(), QStringLiteral("monospace")});
  monospace.setStyleHint(QFont::TypeWriter);
  monospace.setFixedPitch(true);
  for (const crash::ReportSection& section : crash::SplitReport(report.toStdString())) {
    auto* text = new QPlainTextEdit(QString::fromStdString(section.text));
    text->setReadOnly(true);
    text->setFont(monospace);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    tabs_->addTab(text, QString::fromStdString(section.title));
  }

  auto* buttons = new QDialogButtonBox;
  QPushButton* copy = buttons->addButton(QStringLiteral("Copy report"), QDialogButtonBox::ActionRole);
  QPushButton* save = buttons->addButton(QStringLiteral("Save report..."), QDialogButtonBox::ActionRole);
  if (canGoOn) {
    QPushButton* quit = buttons->addButton(QStringLiteral("Close Mendrake"), QDialogButtonBox::DestructiveRole);
    connect(quit, &QPushButton::clicked, this, [this] { done(kCloseMendrake); });
  }
  QPushButton* close = buttons->addButton(QStringLiteral("Close"), QDialogButtonBox::RejectRole);
  close->setDefault(true);
  connect(copy, &QPushButton::clicked, this, &ErrorReportDialog::CopyReport);
  connect(save, &QPushButton::clicked, this, &ErrorReportDialog::SaveReport);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);
}

void ErrorReportDialog::CopyReport() { QGuiApplication::clipboard()->setText(report_); }

void ErrorReportDialog::SaveReport() {
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save report"), suggestedName_,
                                                    QStringLiteral("Text files (*.txt);;All files (*)"));
  if (path.isEmpty()) return;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(report_.toUtf8()) < 0 || !file.commit()) {
    QMessageBox::warning(this, windowTitle(),
                         QStringLiteral("The report could not be saved.\n\nFile: %1\nReason: %2")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
  }
}

}  // namespace mendrake
