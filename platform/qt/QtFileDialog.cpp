#include "platform/qt/QtFileDialog.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>

namespace platform::qt {
namespace {

QString nameFilter(const FileDialog::Filter& filter)
{
    QStringList patterns;
    for (const QString& p : QString::fromUtf8(filter.pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts))
        patterns << (p.trimmed() == QLatin1String("*.*") ? QStringLiteral("*") : p.trimmed());
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(filter.shown), patterns.join(QLatin1Char(' ')));
}

bool choose(const FileDialog::Request& request, std::string& path, bool save)
{
    QFileDialog dialog(QApplication::activeWindow(), QString::fromUtf8(request.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    QStringList filters;
    for (const auto& f : request.filters) filters << nameFilter(f);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.first());
    }
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    }
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return false;
    const QByteArray name = QFile::encodeName(chosen.first());
    if (name.isEmpty() || name.size() > request.maxPathLength) return false;
    path.assign(name.constData(), static_cast<size_t>(name.size()));
    return true;
}

} // namespace

bool QtFileDialog::openFile(const Request& request, std::string& path) { return choose(request, path, false); }

bool QtFileDialog::saveFile(const Request& request, std::string& path) { return choose(request, path, true); }

} // namespace platform::qt
