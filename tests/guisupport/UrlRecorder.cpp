#include "UrlRecorder.h"

#include <QDesktopServices>

namespace {

const char* const kSchemes[] = {"http", "https", "file", "mailto"};

} // namespace

UrlRecorder::UrlRecorder()
{
    for (const char* scheme : kSchemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
}

UrlRecorder::~UrlRecorder()
{
    for (const char* scheme : kSchemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void UrlRecorder::open(const QUrl& url)
{
    m_urls.append(url);
}
