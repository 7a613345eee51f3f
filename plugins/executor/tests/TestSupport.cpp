#include "TestSupport.h"

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QGuiApplication>

#include <cstring>

// Fontconfig keeps its caches for the life of the process; LeakSanitizer reports them at exit.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace executor_test {

void ensureApplication(bool widgets)
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "executor_test";
    static char *argv[] = {name, nullptr};
    if (widgets)
        new QApplication(argc, argv);
    else
        new QGuiApplication(argc, argv);
}

QImage Face::toImage() const
{
    return QImage(bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE, QImage::Format_BGR888).copy();
}

Box litBox(const Face &face, int fromRow, int toRow)
{
    Box box;
    for (int y = fromRow; y <= toRow; ++y)
        for (int x = 0; x < PKX_FACE_SIZE; ++x)
            if (!face.isBlack(x, y)) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

std::string writePng(const QString &dir, const char *name, int width, int height, Qt::GlobalColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    const QString path = QDir(dir).filePath(QString::fromLatin1(name));
    image.save(path, "PNG");
    return path.toStdString();
}

std::string pngBytes(int width, int height, Qt::GlobalColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

} // namespace executor_test
