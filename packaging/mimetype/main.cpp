// orvane-mimetype: prints the MIME type Qt's database gives each file, by name and
// content, as the desktop sees it. The package check uses it on recordings.
#include <QMimeDatabase>
#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: orvane-mimetype FILE...\n");
        return 2;
    }
    QMimeDatabase db;
    for (int k = 1; k < argc; ++k)
        std::printf("%s\n", db.mimeTypeForFile(QString::fromLocal8Bit(argv[k])).name().toUtf8().constData());
    return 0;
}
