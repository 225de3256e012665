#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Catches every URL the code opens through QDesktopServices (http, https, file, mailto) for the
// lifetime of the recorder, instead of starting a browser.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    UrlRecorder();
    ~UrlRecorder() override;

    const QList<QUrl>& urls() const { return m_urls; }

public slots:
    void open(const QUrl& url);

private:
    QList<QUrl> m_urls;
};
