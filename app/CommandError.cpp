#include "app/CommandError.h"

#include "analysis/FileError.h"

#include <QFile>

#include <exception>
#include <new>

namespace mendrake {
namespace {

const QString kTitle = QStringLiteral("Mendrake");
const QString kLead = QStringLiteral("The command was stopped by an error.");

}  // namespace

CommandError DescribeCurrentException() {
  try {
    throw;
  } catch (const FileError& error) {
    const QString file =
        error.path().empty() ? QStringLiteral("(no file name)") : QFile::decodeName(QByteArray::fromStdString(error.path()));
    return {kTitle, kLead + QStringLiteral("\n\nFile: ") + file + QStringLiteral("\nReason: ") +
                        QString::fromStdString(error.reason())};
  } catch (const std::bad_alloc&) {
    return {kTitle, kLead + QStringLiteral("\n\nReason: there is not enough memory.")};
  } catch (const std::exception& error) {
    return {kTitle, kLead + QStringLiteral("\n\nReason: ") + QString::fromUtf8(error.what())};
  } catch (...) {
    return {kTitle, kLead + QStringLiteral("\n\nReason: an unknown error.")};
  }
}

}  // namespace mendrake
