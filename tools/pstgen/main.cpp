// pstgen DESCRIPTION.json OUTPUT.pst: writes the PST file a description asks for.
#include "pstgen/DescriptionReader.h"
#include "pstgen/PstWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

using namespace parcelon;

namespace {

int failWith(const QString& message)
{
    std::fprintf(stderr, "pstgen: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pstgen"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a PST file from a JSON description."));
    parser.addHelpOption();
    const QCommandLineOption manifest(QStringLiteral("manifest"),
                                      QStringLiteral("Also write one JSON line per attachment, with its SHA-256, to <file>."),
                                      QStringLiteral("file"));
    parser.addOption(manifest);
    parser.addPositionalArgument(QStringLiteral("description"), QStringLiteral("The description (JSON)."));
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("The PST file to create; it must not exist."));
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2)
        return failWith(QStringLiteral("usage: pstgen [--manifest FILE] DESCRIPTION.json OUTPUT.pst"));

    const QString manifestPath = parser.value(manifest);
    if (!manifestPath.isEmpty() && QFileInfo::exists(manifestPath))
        return failWith(QStringLiteral("%1 already exists").arg(manifestPath));

    const auto description = pstgen::DescriptionReader::readFile(args[0]);
    if (!description)
        return failWith(description.error().message());

    pstgen::WriteOptions options;
    options.listAttachments = !manifestPath.isEmpty();
    options.hashAttachments = !manifestPath.isEmpty();
    const auto report = pstgen::PstWriter::write(*description, args[1], options);
    if (!report)
        return failWith(report.error().message());
    if (!manifestPath.isEmpty())
        if (auto written = report->writeManifest(manifestPath); !written)
            return failWith(written.error().message());

    std::printf("%s: %llu bytes, %llu folders, %llu messages, %llu attachments (%llu content bytes)\n", qPrintable(args[1]),
                static_cast<unsigned long long>(report->fileSize), static_cast<unsigned long long>(report->folders),
                static_cast<unsigned long long>(report->messages), static_cast<unsigned long long>(report->attachments),
                static_cast<unsigned long long>(report->contentBytes));
    return 0;
}
