// Analysis of a large generated page: about 1 MB of HTML with thousands of
// pictures and links; and of hostile pages (deep nesting, one <picture> with
// thousands of sources, nested links) at 64 KB, 1 MB and 16 MB, whose times
// should grow in proportion to their sizes.
//   bench_service_analysis [--write-page=FILE] [benchmark flags]
// --write-page stores the generated page and exits; SKARVEL_BENCH_PAGE=FILE
// makes the benchmarks read that page instead of generating one.
#include "service/html_analysis.h"
#include "service/html_tree.h"
#include "service/page_fetcher.h"

#include <benchmark/benchmark.h>
#include <gumbo.h>

#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

QByteArray generatePage() {
    QByteArray html = "<!DOCTYPE html><html><head><meta charset=utf-8><title>Bench gallery</title>"
                      "<base href=\"https://www.example.com/gallery/\">"
                      "<style>.hero{background:url(/img/hero.jpg)}</style></head><body>\n";
    for (int i = 0; html.size() < 1024 * 1024; ++i) {
        const QByteArray n = QByteArray::number(i);
        html += "<div class=\"item\" id=\"item-" + n + "\"><a href=\"photos/" + n +
                "/full.jpg\" title=\"Photo " + n + "\"><img src=\"thumbs/" + n + ".jpg\" srcset=\"thumbs/" +
                n + "-2x.jpg 2x, thumbs/" + n + "-3x.jpg 3x\" alt=\"Photo &amp; caption " + n +
                "\" loading=\"lazy\"></a>\n<p>Some words about picture " + n + ", <a href=\"/articles/" + n +
                ".html?ref=gallery&amp;page=" + QByteArray::number(i / 50) +
                "#top\">read more</a> or <a href=\"https://other.example.org/tag/" +
                QByteArray::number(i % 97) + "\">tag</a>.</p></div>\n";
    }
    html += "</body></html>\n";
    return html;
}

const QByteArray& page() {
    static const QByteArray bytes = [] {
        if (const char* path = std::getenv("SKARVEL_BENCH_PAGE")) {
            QFile file(QString::fromLocal8Bit(path));
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", path);
                std::exit(1);
            }
            return file.readAll();
        }
        return generatePage();
    }();
    return bytes;
}

const QUrl kPageUrl(QStringLiteral("https://www.example.com/gallery/index.html"));

void BM_FindPictures(benchmark::State& state) {
    const QByteArray& html = page();
    qsizetype found = 0;
    for (auto _ : state) {
        const auto pictures = skarvel::findPictures(html, kPageUrl);
        found = pictures.size();
        benchmark::DoNotOptimize(pictures.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * html.size());
    state.counters["pictures"] = double(found);
}
BENCHMARK(BM_FindPictures)->Unit(benchmark::kMillisecond);

void BM_FindLinks(benchmark::State& state) {
    const QByteArray& html = page();
    qsizetype found = 0;
    for (auto _ : state) {
        const auto links = skarvel::findLinks(html, kPageUrl);
        found = links.size();
        benchmark::DoNotOptimize(links.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * html.size());
    state.counters["links"] = double(found);
}
BENCHMARK(BM_FindLinks)->Unit(benchmark::kMillisecond);

void BM_FindSounds(benchmark::State& state) {
    const QByteArray& html = page();
    for (auto _ : state) {
        const auto sounds = skarvel::findMedia(html, kPageUrl, skarvel::MediaKind::Sound);
        benchmark::DoNotOptimize(sounds.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * html.size());
}
BENCHMARK(BM_FindSounds)->Unit(benchmark::kMillisecond);

enum Shape { NestedDivs, SourcesInOnePicture, NestedLinks };

QByteArray hostilePage(Shape shape, qsizetype size) {
    QByteArray html;
    html.reserve(size + 64);
    for (int i = 0; html.size() < size; ++i) {
        const QByteArray n = QByteArray::number(i);
        switch (shape) {
        case NestedDivs:
            html += "<div>";
            break;
        case SourcesInOnePicture:
            if (i == 0)
                html += "<picture>";
            html += "<source srcset=\"s" + n + ".webp\">";
            break;
        case NestedLinks:
            html += "<a href=\"p" + n + ".jpg\"><span>";
            break;
        }
    }
    html += "<img src=\"last.jpg\" alt=\"Last\">";
    return html;
}

void BM_HostilePage(benchmark::State& state) {
    const auto shape = Shape(state.range(0));
    const QByteArray html = hostilePage(shape, qsizetype(state.range(1)));
    qsizetype found = 0;
    for (auto _ : state) {
        const auto pictures = skarvel::findPictures(html, kPageUrl);
        found = pictures.size();
        benchmark::DoNotOptimize(pictures.data());
    }
    static const char* const kNames[] = {"nested divs", "sources in one picture", "nested links"};
    state.SetLabel(kNames[shape]);
    state.SetBytesProcessed(int64_t(state.iterations()) * html.size());
    state.counters["pictures"] = double(found);
}
BENCHMARK(BM_HostilePage)
    ->ArgsProduct({{NestedDivs, SourcesInOnePicture, NestedLinks}, {64 << 10, 1 << 20, 16 << 20}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3);

// The parse alone (nesting bound included) of the same hostile pages: what is
// left of BM_HostilePage after it is the walk and the address work.
void BM_HostilePageParse(benchmark::State& state) {
    const auto shape = Shape(state.range(0));
    const QByteArray html = hostilePage(shape, qsizetype(state.range(1)));
    for (auto _ : state) {
        const skarvel::analysis::HtmlTree tree(html);
        benchmark::DoNotOptimize(tree.root());
    }
    static const char* const kNames[] = {"nested divs", "sources in one picture", "nested links"};
    state.SetLabel(kNames[shape]);
    state.SetBytesProcessed(int64_t(state.iterations()) * html.size());
}
BENCHMARK(BM_HostilePageParse)
    ->ArgsProduct({{NestedDivs, SourcesInOnePicture, NestedLinks}, {1 << 20, 16 << 20}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(3);

// A page without any declaration: the bytes are checked for valid UTF-8.
void BM_PageToUtf8Undeclared(benchmark::State& state) {
    const QByteArray html = QByteArray(page()).replace("<meta charset=utf-8>", "");
    for (auto _ : state) {
        const QByteArray utf8 = skarvel::pageToUtf8(html, "");
        benchmark::DoNotOptimize(utf8.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * html.size());
}
BENCHMARK(BM_PageToUtf8Undeclared)->Unit(benchmark::kMillisecond);

// The same work as the reference script: parse, then count <img src> and <a href>.
void BM_CountImgSrcAndLinkHref(benchmark::State& state) {
    const QByteArray& html = page();
    long images = 0;
    long links = 0;
    for (auto _ : state) {
        images = 0;
        links = 0;
        GumboOptions options = kGumboDefaultOptions;
        options.max_errors = 0;
        std::unique_ptr<GumboOutput, void (*)(GumboOutput*)> output(
            gumbo_parse_with_options(&options, html.constData(), size_t(html.size())),
            [](GumboOutput* o) { gumbo_destroy_output(&kGumboDefaultOptions, o); });
        std::vector<const GumboNode*> stack{output->document};
        while (!stack.empty()) {
            const GumboNode* node = stack.back();
            stack.pop_back();
            const GumboVector* children = nullptr;
            if (node->type == GUMBO_NODE_DOCUMENT) {
                children = &node->v.document.children;
            } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
                const GumboElement& e = node->v.element;
                if (e.tag == GUMBO_TAG_IMG && gumbo_get_attribute(&e.attributes, "src"))
                    ++images;
                else if (e.tag == GUMBO_TAG_A && gumbo_get_attribute(&e.attributes, "href"))
                    ++links;
                children = &e.children;
            }
            if (children) {
                for (unsigned i = 0; i < children->length; ++i)
                    stack.push_back(static_cast<const GumboNode*>(children->data[i]));
            }
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * html.size());
    state.counters["img_src"] = double(images);
    state.counters["a_href"] = double(links);
}
BENCHMARK(BM_CountImgSrcAndLinkHref)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        constexpr const char* kWrite = "--write-page=";
        if (std::strncmp(argv[i], kWrite, std::strlen(kWrite)) == 0) {
            QFile file(QString::fromLocal8Bit(argv[i] + std::strlen(kWrite)));
            if (!file.open(QIODevice::WriteOnly) || file.write(generatePage()) < 0) {
                std::fprintf(stderr, "cannot write %s\n", argv[i] + std::strlen(kWrite));
                return 1;
            }
            return 0;
        }
        rest.push_back(argv[i]);
    }
    int restCount = int(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
