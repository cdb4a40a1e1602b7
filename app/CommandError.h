#pragma once

#include "crash/CrashRecord.h"

#include <QString>

namespace mendrake {

// What the user is told when an error ends a command.
struct CommandError {
  QString title;
  QString text;
};

// Describes the exception being handled; call it only inside a catch block.
CommandError DescribeCurrentException();

// Whether the exception being handled is a file-system error, which a message
// box explains; anything else gets an error report. Only inside a catch block.
bool CurrentExceptionIsFileError();

// The address of the exception object being handled, if it is a standard
// exception: it names the exception whose throw site was recorded.
const void* CurrentExceptionObject();

// The type and message of the exception being handled, for an error report.
crash::ExceptionFacts CurrentExceptionFacts();

}  // namespace mendrake
