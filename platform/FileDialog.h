#pragma once
#include <string>
#include <vector>

namespace platform {

// The file-open and file-save dialogs.
class FileDialog {
public:
    struct Filter {
        std::string shown;    // e.g. "*.pva *.pav"
        std::string pattern;  // e.g. "*.pva;*.pav"
    };
    struct Request {
        std::string title;
        std::vector<Filter> filters;
        int maxPathLength = 1023;
        bool mustExist = false;         // open: the file and its path must exist
        bool confirmOverwrite = false;  // save: ask before replacing a file
        bool pathMustExist = true;
    };
    // The request both PVA dialogs start from: "set PVA file", the PVA filters first.
    static Request pvaFileRequest()
    {
        Request r;
        r.title = "set PVA file";
        r.filters = {{"*.pva *.pav", "*.pva;*.pav"}, {"*.* ", "*.*"}};
        return r;
    }

    virtual ~FileDialog() = default;
    // Returns false when the user cancels (or the dialog fails); path is then unchanged.
    virtual bool openFile(const Request& request, std::string& path) = 0;
    virtual bool saveFile(const Request& request, std::string& path) = 0;
};

} // namespace platform
