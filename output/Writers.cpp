#include "output/Writers.h"

#include "files/Utf8Path.h"

#include "files/ControlBytes.h"
#include "files/FileError.h"
#include "files/FileIo.h"
#include "output/OutputNames.h"

#include <filesystem>
#include <optional>

namespace mendrake {
namespace {

constexpr const char* kRawExtension = ".crw";
constexpr const char* kRawFilter = "Canon Raw Files (*.crw)|*.crw|All Files (*.*)|*.*";
constexpr const char* kJpegExtension = ".jpg";
constexpr const char* kJpegFilter = "JPEG Files (*.jpg)|*.jpg|All Files (*.*)|*.*";

// The target a writer works from: derived from the source without asking, or
// the name chosen in the save dialog; empty when there is none.
std::string ChooseTarget(RepairContext& context, bool automatic, const std::string& automaticName,
                         const char* defaultExtension, const char* filter) {
  if (automatic) return automaticName;
  std::optional<std::string> chosen = context.platform.AskSaveFileName(defaultExtension, filter);
  return chosen ? *chosen : std::string();
}

// Nothing the user asked for is worth the source itself: a name that leads
// back to it (typed into the dialog, or a ".jpg" source's own thumbnail name)
// is not written.
bool RefuseToOverwriteSource(RepairContext& context, const std::string& output, const std::string& source) {
  if (!NameTheSameFile(output, source)) return false;
  context.log.Append(EscapeControlBytes("Skipped writing " + output + ": it is the source file itself."));
  return true;
}

// The writers copy bytes that the analysis checked, so the file they read
// must still be the one analysed: not replaced, nor rewritten in place.
OpenSource OpenAnalysedSource(const RepairContext& context, const std::string& source) {
  OpenSource opened = OpenForReading(source);
  if (opened.identity != context.state.CurrentFileIdentity) {
    throw FileError(source, "the file changed after it was analysed; open it again");
  }
  return opened;
}

std::string FileNameOf(const std::string& path) { return Utf8Of(PathFromUtf8(path).filename()); }

// The user chose an interactive target and it replaces what is there. An
// automatic one never replaces a file with other content: the output goes
// under the next free numbered name, and the log says so.
void WriteRange(RepairContext& context, const OpenSource& source, const std::string& sourcePath, std::int64_t offset,
                std::int64_t count, const std::string& output, bool automatic, const char* what) {
  PendingFile file(output);
  file.CopyFrom(source.file.get(), sourcePath, offset, count);
  if (!automatic) return file.Commit();
  const std::string written = file.CommitUnderFreeName();
  if (written != output) {
    context.log.Append(EscapeControlBytes(FileNameOf(output) + " exists; the " + what + " was written as " +
                                          FileNameOf(written)));
  }
}

}  // namespace

void WriteRepaired(RepairContext& context, const std::string& source, bool automatic) {
  const std::int64_t size = context.state.FFilesize;
  if (size <= 0) return;
  // Opened before the dialog, so that a source that cannot be read fails
  // before the user is asked for a name. Only the first FFilesize bytes are
  // read, when the copy is made.
  const OpenSource opened = OpenAnalysedSource(context, source);

  const std::string target = ChooseTarget(context, automatic, source, kRawExtension, kRawFilter);
  if (target.empty()) return;
  const std::string output = OutputNameForRepaired(target);
  if (RefuseToOverwriteSource(context, output, source)) return;
  if (size > opened.size) {
    throw FileError(source, "the file is shorter than the size found for it (" + std::to_string(size) +
                                " bytes); it has changed since it was analysed");
  }
  WriteRange(context, opened, source, 0, size, output, automatic, "repaired file");
}

void WriteThumbnail(RepairContext& context, const std::string& source, std::uint32_t start, std::uint32_t length,
                    bool automatic) {
  if (start == 0 || length == 0) return;
  const std::string target =
      ChooseTarget(context, automatic, OutputNameForThumbnail(source), kJpegExtension, kJpegFilter);
  if (target.empty()) return;
  if (RefuseToOverwriteSource(context, target, source)) return;

  const OpenSource opened = OpenAnalysedSource(context, source);
  if (std::int64_t{start} + length > opened.size) {
    throw FileError(source, "the file ends before the " + std::to_string(length) + " bytes of the thumbnail at offset " +
                                std::to_string(start));
  }
  WriteRange(context, opened, source, start, length, target, automatic, "thumbnail");
}

}  // namespace mendrake
