#include "pixkey/utility/CFileImage.h"

#include "pixkey_plugin.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPainter>

#include <memory>

namespace pixkey {

struct CFileImage::Picture {
    QImage image; // Format_ARGB32: bytes B, G, R, A on a little-endian machine
};

namespace {

// Decoding is capped twice: pictures whose header announces too many pixels are refused before
// decoding, and Qt's own allocation limit catches headers that lie.
constexpr int kAllocationLimitMiB = 128;

bool acceptedFormat(const QByteArray &format)
{
    return format == "png" || format == "jpeg" || format == "jpg" || format == "gif" || format == "bmp";
}

std::unique_ptr<QImage> decode(QIODevice *device)
{
    QImageReader reader(device);
    reader.setDecideFormatFromContent(true);
    reader.setAllocationLimit(kAllocationLimitMiB);
    reader.setAutoTransform(true); // photos stand upright as their orientation tag says
    if (!acceptedFormat(reader.format()))
        return nullptr;
    const QSize size = reader.size();
    if (size.isValid()) {
        if (size.width() > CFileImage::kMaxSide || size.height() > CFileImage::kMaxSide
            || qint64(size.width()) * size.height() > CFileImage::kMaxPixels)
            return nullptr;
    }
    auto image = std::make_unique<QImage>();
    if (!reader.read(image.get()) || image->isNull())
        return nullptr;
    if (image->width() > CFileImage::kMaxSide || image->height() > CFileImage::kMaxSide
        || qint64(image->width()) * image->height() > CFileImage::kMaxPixels)
        return nullptr;
    *image = image->convertToFormat(QImage::Format_ARGB32);
    if (image->isNull())
        return nullptr;
    return image;
}

} // namespace

CFileImage::CFileImage() = default;

CFileImage::~CFileImage()
{
    setPicture(nullptr);
}

void CFileImage::setPicture(Picture *picture)
{
    delete m_picture;
    m_picture = picture;
    bits = picture ? picture->image.constBits() : nullptr;
}

bool CFileImage::Load(const char *path)
{
    Unload();
    if (!path || !*path)
        return false;
    if (!LoadInternal(path)) {
        Unload();
        return false;
    }
    return m_picture != nullptr;
}

void CFileImage::Unload()
{
    setPicture(nullptr);
}

bool CFileImage::LoadInternal(const char *path)
{
    // Regular files only: opening a FIFO or a device could block the paint thread for ever.
    const QString name = QString::fromUtf8(path);
    if (!QFileInfo(name).isFile())
        return false;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    std::unique_ptr<QImage> image = decode(&file);
    if (!image)
        return false;
    setPicture(new Picture{std::move(*image)});
    return true;
}

bool CFileImage::LoadFromMemory(const void *encoded, std::size_t size)
{
    setPicture(nullptr);
    if (!encoded || size == 0 || size > std::size_t(INT32_MAX))
        return false;
    QByteArray bytes = QByteArray::fromRawData(static_cast<const char *>(encoded), qsizetype(size));
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    std::unique_ptr<QImage> image = decode(&buffer);
    if (!image)
        return false;
    // fromRawData does not copy; the decoded image owns its pixels, the buffer is done with here.
    setPicture(new Picture{std::move(*image)});
    return true;
}

int CFileImage::GetWidth() const
{
    return m_picture ? m_picture->image.width() : 0;
}

int CFileImage::GetHeight() const
{
    return m_picture ? m_picture->image.height() : 0;
}

int CFileImage::GetStride() const
{
    return m_picture ? int(m_picture->image.bytesPerLine()) : 0;
}

bool CFileImage::Fit(int w, int h)
{
    if (!m_picture || w < 1 || h < 1)
        return false;
    const QImage &image = m_picture->image;
    // Largest size inside w x h with the picture's proportions, in integers to avoid rounding over.
    qint64 width = w;
    qint64 height = qint64(image.height()) * w / image.width();
    if (height > h) {
        height = h;
        width = qint64(image.width()) * h / image.height();
    }
    width = std::max<qint64>(width, 1);
    height = std::max<qint64>(height, 1);
    if (width == image.width() && height == image.height())
        return true;
    QImage scaled = image.scaled(int(width), int(height), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_ARGB32);
    if (scaled.isNull())
        return false;
    setPicture(new Picture{std::move(scaled)});
    return true;
}

bool CFileImage::StretchDIBits(PkxSurface *surface, int x, int y, int w, int h) const
{
    if (!m_picture || !surface || !surface->bits || w < 1 || h < 1 || surface->width < 1 || surface->height < 1
        || surface->stride < surface->width * 3)
        return false;
    QImage target(surface->bits, surface->width, surface->height, surface->stride, QImage::Format_BGR888);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRect(x, y, w, h), m_picture->image);
    return true;
}

} // namespace pixkey
