#include "app/CommandError.h"

#include "files/ControlBytes.h"
#include "files/FileError.h"

#include <QFile>

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>
#include <new>

namespace mendrake {
namespace {

const QString kTitle = QStringLiteral("Mendrake");
const QString kLead = QStringLiteral("The command was stopped by an error.");

// Names and reasons may hold a file's control bytes: they are shown escaped.
QString FromFile(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(EscapeControlBytes(text)));
}

}  // namespace

CommandError DescribeCurrentException() {
  try {
    throw;
  } catch (const FileError& error) {
    const QString file = error.path().empty() ? QStringLiteral("(no file name)") : FromFile(error.path());
    QString text = kLead + QStringLiteral("\n\nFile: ") + file + QStringLiteral("\nReason: ") + FromFile(error.reason());
    // What the run did not come to, when the error ended one.
    if (!error.note().empty()) text += QStringLiteral("\n\n") + QFile::decodeName(QByteArray::fromStdString(error.note()));
    return {kTitle, text};
  } catch (const std::bad_alloc&) {
    return {kTitle, kLead + QStringLiteral("\n\nReason: there is not enough memory.")};
  } catch (const std::exception& error) {
    return {kTitle, kLead + QStringLiteral("\n\nReason: ") + QString::fromUtf8(error.what())};
  } catch (...) {
    return {kTitle, kLead + QStringLiteral("\n\nReason: an unknown error.")};
  }
}

bool CurrentExceptionIsFileError() {
  try {
    throw;
  } catch (const FileError&) {
    return true;
  } catch (...) {
    return false;
  }
}

const void* CurrentExceptionObject() {
  try {
    throw;
  } catch (const std::exception& error) {
    return &error;
  } catch (...) {
    return nullptr;
  }
}

crash::ExceptionFacts CurrentExceptionFacts() {
  crash::ExceptionFacts facts;
  if (const std::type_info* type = abi::__cxa_current_exception_type()) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                     &std::free);
    facts.type = status == 0 && name ? name.get() : type->name();
  } else {
    facts.type = "(unknown)";
  }
  try {
    throw;
  } catch (const std::exception& error) {
    facts.message = error.what();
  } catch (...) {
    facts.message = "(not a standard exception: no message)";
  }
  return facts;
}

}  // namespace mendrake
