// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/CalDavXml.h"

#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace rp::mailstore {

namespace {

const QString kDav = QStringLiteral("DAV:");
const QString kCalDav = QStringLiteral("urn:ietf:params:xml:ns:caldav");
const QString kCalServer = QStringLiteral("http://calendarserver.org/ns/");

int StatusOf(const QString& line) {
    // "HTTP/1.1 404 Not Found"
    const QStringList parts = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return parts.size() >= 2 ? parts[1].toInt() : 0;
}

bool Is(const QXmlStreamReader& xml, const QString& ns, const char* name) {
    return xml.namespaceUri() == ns && xml.name() == QLatin1String(name);
}

// Reads a <resourcetype> element to its end.
void ReadResourceType(QXmlStreamReader& xml, TDavResource& resource) {
    while (xml.readNextStartElement()) {
        if (Is(xml, kDav, "collection"))
            resource.isCollection = true;
        else if (Is(xml, kCalDav, "calendar"))
            resource.isCalendar = true;
        xml.skipCurrentElement();
    }
}

// Reads the <href> elements of a property to its end.
QStringList ReadHrefs(QXmlStreamReader& xml) {
    QStringList hrefs;
    while (xml.readNextStartElement()) {
        if (Is(xml, kDav, "href"))
            hrefs << QUrl::fromPercentEncoding(xml.readElementText().trimmed().toUtf8());
        else
            xml.skipCurrentElement();
    }
    return hrefs;
}

// Reads a <propstat>; properties of a failed propstat (404) are ignored.
void ReadPropstat(QXmlStreamReader& xml, TDavResource& resource) {
    TDavResource found;
    int status = 200;
    while (xml.readNextStartElement()) {
        if (Is(xml, kDav, "status")) {
            status = StatusOf(xml.readElementText());
            continue;
        }
        if (!Is(xml, kDav, "prop")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (Is(xml, kDav, "resourcetype"))
                ReadResourceType(xml, found);
            else if (Is(xml, kDav, "getetag"))
                found.etag = xml.readElementText().trimmed().toUtf8();
            else if (Is(xml, kCalDav, "calendar-data"))
                found.calendarData = xml.readElementText().toUtf8();
            else if (Is(xml, kCalServer, "getctag"))
                found.ctag = xml.readElementText().trimmed().toUtf8();
            else if (Is(xml, kDav, "sync-token"))
                found.syncToken = xml.readElementText().trimmed().toUtf8();
            else if (Is(xml, kDav, "current-user-principal"))
                found.principal = ReadHrefs(xml).value(0);
            else if (Is(xml, kCalDav, "calendar-user-address-set"))
                found.userAddresses = ReadHrefs(xml);
            else
                xml.skipCurrentElement();
        }
    }
    if (status < 200 || status >= 300)
        return;
    resource.isCollection = resource.isCollection || found.isCollection;
    resource.isCalendar = resource.isCalendar || found.isCalendar;
    if (!found.etag.isEmpty())
        resource.etag = found.etag;
    if (!found.calendarData.isEmpty())
        resource.calendarData = found.calendarData;
    if (!found.ctag.isEmpty())
        resource.ctag = found.ctag;
    if (!found.syncToken.isEmpty())
        resource.syncToken = found.syncToken;
    if (!found.principal.isEmpty())
        resource.principal = found.principal;
    resource.userAddresses += found.userAddresses;
}

TDavResource ReadResponse(QXmlStreamReader& xml) {
    TDavResource resource;
    while (xml.readNextStartElement()) {
        if (Is(xml, kDav, "href"))
            resource.href = QUrl::fromPercentEncoding(xml.readElementText().trimmed().toUtf8());
        else if (Is(xml, kDav, "status"))
            resource.status = StatusOf(xml.readElementText());
        else if (Is(xml, kDav, "propstat"))
            ReadPropstat(xml, resource);
        else
            xml.skipCurrentElement();
    }
    return resource;
}

void StartProp(QXmlStreamWriter& xml, const char* root) {
    xml.writeStartDocument();
    xml.writeNamespace(kDav, QStringLiteral("d"));
    xml.writeNamespace(kCalDav, QStringLiteral("c"));
    xml.writeNamespace(kCalServer, QStringLiteral("cs"));
    const QString name = QLatin1String(root);
    xml.writeStartElement(name.startsWith(QLatin1String("calendar")) ? kCalDav : kDav, name);
}

// A PROPFIND of one property.
QByteArray PropfindBody(const QString& ns, const char* property) {
    QByteArray body;
    QXmlStreamWriter xml(&body);
    StartProp(xml, "propfind");
    xml.writeStartElement(kDav, QStringLiteral("prop"));
    xml.writeEmptyElement(ns, QLatin1String(property));
    xml.writeEndDocument();
    return body;
}

} // namespace

TMultistatus ParseMultistatus(const QByteArray& text) {
    TMultistatus result;
    QXmlStreamReader xml(text);
    if (!xml.readNextStartElement() || !Is(xml, kDav, "multistatus")) {
        result.error = xml.hasError() ? xml.errorString()
                                      : QStringLiteral("the answer is not a WebDAV multistatus");
        return result;
    }
    while (xml.readNextStartElement()) {
        if (Is(xml, kDav, "response"))
            result.resources.push_back(ReadResponse(xml));
        else if (Is(xml, kDav, "sync-token"))
            result.syncToken = xml.readElementText().trimmed().toUtf8();
        else
            xml.skipCurrentElement();
    }
    if (xml.hasError()) {
        result.error = xml.errorString();
        result.resources.clear();
        return result;
    }
    result.ok = true;
    return result;
}

// Only the collection's type: a sync token or ctag here would make the server
// look at every item (Radicale takes as long as for the listing itself).
QByteArray DiscoveryBody() {
    return PropfindBody(kDav, "resourcetype");
}

QByteArray PrincipalBody() {
    return PropfindBody(kDav, "current-user-principal");
}

QByteArray UserAddressSetBody() {
    return PropfindBody(kCalDav, "calendar-user-address-set");
}

QByteArray SyncCollectionBody(const QByteArray& token, bool withData) {
    QByteArray body;
    QXmlStreamWriter xml(&body);
    StartProp(xml, "sync-collection");
    xml.writeTextElement(kDav, QStringLiteral("sync-token"), QString::fromUtf8(token));
    xml.writeTextElement(kDav, QStringLiteral("sync-level"), QStringLiteral("1"));
    xml.writeStartElement(kDav, QStringLiteral("prop"));
    xml.writeEmptyElement(kDav, QStringLiteral("getetag"));
    if (withData)
        xml.writeEmptyElement(kCalDav, QStringLiteral("calendar-data"));
    xml.writeEndDocument();
    return body;
}

QByteArray EtagListBody() {
    QByteArray body;
    QXmlStreamWriter xml(&body);
    StartProp(xml, "propfind");
    xml.writeStartElement(kDav, QStringLiteral("prop"));
    xml.writeEmptyElement(kDav, QStringLiteral("getetag"));
    xml.writeEmptyElement(kDav, QStringLiteral("resourcetype"));
    xml.writeEndDocument();
    return body;
}

QByteArray MultigetBody(const std::vector<QString>& hrefs) {
    QByteArray body;
    QXmlStreamWriter xml(&body);
    StartProp(xml, "calendar-multiget");
    xml.writeStartElement(kDav, QStringLiteral("prop"));
    xml.writeEmptyElement(kDav, QStringLiteral("getetag"));
    xml.writeEmptyElement(kCalDav, QStringLiteral("calendar-data"));
    xml.writeEndElement();
    for (const QString& href : hrefs)
        xml.writeTextElement(kDav, QStringLiteral("href"),
                             QString::fromUtf8(QUrl(href).toEncoded(QUrl::FullyEncoded)));
    xml.writeEndDocument();
    return body;
}

} // namespace rp::mailstore
