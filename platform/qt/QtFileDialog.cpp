#include "platform/qt/QtFileDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>

#include <memory>

namespace platform::qt {
namespace {

QString nameFilter(const FileDialog::Filter& filter)
{
    QStringList patterns;
    for (const QString& p : QString::fromUtf8(filter.pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts))
        patterns << (p.trimmed() == QLatin1String("*.*") ? QStringLiteral("*") : p.trimmed());
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(filter.shown), patterns.join(QLatin1Char(' ')));
}

// Qt's widget dialog loses the whole path of a file typed into its name field: it
// selects that name in the folder it shows and puts only the name back in the
// field, and Enter then clears the field and opens nothing. Here Enter takes the
// path the user typed last when it names a file and the field still shows it (or
// the name Qt put there in its place).
class TypedPathFilter final : public QObject {
public:
    TypedPathFilter(QFileDialog& dialog, QLineEdit& field) : dialog_(dialog), field_(field)
    {
        connect(&field, &QLineEdit::textEdited, this, [this](const QString& text) { typed_ = text; });
    }
    QString chosen;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
        const QFileInfo info(typed_);
        const QString shown = field_.text();
        if (!QDir::isAbsolutePath(typed_) || !info.isFile() || (shown != typed_ && shown != info.fileName()))
            return false;
        chosen = typed_;
        static_cast<QDialog&>(dialog_).done(QDialog::Accepted);
        return true;
    }

private:
    QFileDialog& dialog_;
    QLineEdit& field_;
    QString typed_;
};

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
    std::unique_ptr<TypedPathFilter> typedPath;
    if (auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); field && !save) {
        typedPath = std::make_unique<TypedPathFilter>(dialog, *field);
        field->installEventFilter(typedPath.get());
        if (QCompleter* completer = field->completer(); completer && completer->popup())
            completer->popup()->installEventFilter(typedPath.get());
    }
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen =
        typedPath && !typedPath->chosen.isEmpty() ? QStringList{typedPath->chosen} : dialog.selectedFiles();
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
