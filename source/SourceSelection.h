#pragma once
#include <functional>
#include <string>

class SourceAnalyser;
namespace platform {
class FileDialog;
struct OperationContext;
}

// Asks for a source PVA file and scans it into the next free slot (with a scan log
// when withLog is 1). Returns 1 when a file was chosen, whatever the scan's outcome,
// and -1 when the dialog was cancelled or failed, or `mayLoad` (when given) said no
// to the chosen file.
int openSourceDialog(SourceAnalyser& app, platform::FileDialog* dialog, int withLog, const platform::OperationContext& op,
                     const std::function<bool(const std::string&)>& mayLoad = {});
