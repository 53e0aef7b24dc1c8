// Choosing a source file and switching between the loaded sources.
#include "source/SourceSelection.h"

#include "platform/FileDialog.h"
#include "source/SourceAnalyser.h"

#include <string>

int openSourceDialog(SourceAnalyser& app, platform::FileDialog* dialog, int withLog, const platform::OperationContext& op,
                     const std::function<bool(const std::string&)>& mayLoad)
{
    if (!dialog) return -1;
    platform::FileDialog::Request request = platform::FileDialog::pvaFileRequest();
    request.mustExist = true;
    request.pathMustExist = true;
    std::string path;
    if (!dialog->openFile(request, path)) return -1;
    if (mayLoad && !mayLoad(path)) return -1;
    // A failed scan has written its own messages.
    app.scanSource(path.c_str(), withLog, op);
    return 1;
}

void SourceAnalyser::selectPreviousSource()
{
    if (currentSource > 0) --currentSource;
    if (onCurrentSourceChanged) onCurrentSourceChanged();
}

void SourceAnalyser::selectNextSource()
{
    if (currentSource + 1 < sourceCount) ++currentSource;
    if (onCurrentSourceChanged) onCurrentSourceChanged();
}

int SourceAnalyser::selectSource(int32_t s)
{
    if (s < 0 || s >= sourceCount || s >= maxSources) return -1;
    currentSource = s;
    if (onCurrentSourceChanged) onCurrentSourceChanged();
    return 1;
}
