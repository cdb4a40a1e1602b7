#pragma once

#include <QString>

namespace mendrake {

// What the user is told when an error ends a command.
struct CommandError {
  QString title;
  QString text;
};

// Describes the exception being handled; call it only inside a catch block.
CommandError DescribeCurrentException();

}  // namespace mendrake
