#pragma once
#include "platform/FileDialog.h"

namespace platform::qt {

// Qt's own file dialog (not the desktop's, so that it also works offscreen),
// modal over the active window. Each filter is shown by its text; "*.*" means
// every file, as it does on the system the patterns come from. A chosen path
// longer than the request allows is refused like a cancel, never cut.
class QtFileDialog final : public FileDialog {
public:
    bool openFile(const Request& request, std::string& path) override;
    bool saveFile(const Request& request, std::string& path) override;
};

} // namespace platform::qt
