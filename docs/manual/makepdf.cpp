// Builds the user manual PDF from its Markdown source.
// usage: kelvarin-manual-pdf SOURCE.md OUTPUT.pdf
// The PDF is written under a temporary name and renamed, so an interrupted
// build never leaves a torn manual in the bundle.
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE.md OUTPUT.pdf\n", argc > 0 ? argv[0] : "kelvarin-manual-pdf");
        return 2;
    }
    // Fonts need a GUI application; no display is needed for a PDF.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QString markdown = QString::fromUtf8(source.readAll());

    const QString output = QString::fromLocal8Bit(argv[2]);
    const QString temporary = output + QStringLiteral(".part");
    {
        QPdfWriter pdf(temporary);
        pdf.setTitle(QStringLiteral("Kelvarin User Manual"));
        pdf.setCreator(QStringLiteral("Kelvarin"));
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);

        QTextDocument doc;
        doc.setDefaultStyleSheet(
            QStringLiteral("table { border-collapse: collapse; } "
                           "th, td { padding: 4px; }"));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(10.5);
        doc.setDefaultFont(font);
        doc.setMarkdown(markdown);
        doc.print(&pdf);
    }
    QFile::remove(output);
    if (!QFile::rename(temporary, output)) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        QFile::remove(temporary);
        return 1;
    }
    return 0;
}
