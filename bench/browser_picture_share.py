#!/usr/bin/env python3
"""How many of the pictures a browser loads does the page-analysis service list?

Generates pages modelled on news sites of 2021-2026 (responsive <img> and <picture>
with type and media switching, lazy loading, icons, SVG, CSS backgrounds and
image-set(), noscript fallbacks, preloads, templates, base href, entities, odd
whitespace, data: placeholders, and things that are no pictures), serves them from
127.0.0.1 / 127.0.0.2 / localhost, lets headless Chromium load each page at several
viewports (scrolled to the end, so lazy pictures load too) and records every picture
request (resource type Image, and the favicon), asks skarvel-service get_images.php
for each page, and compares:

  named share        browser-loaded pictures whose address the page names, that the
                     service lists
  any-candidate      the same, counting a picture as found when the service lists any
                     candidate of the same element (srcset, <picture> sources, src)
  in-page precision  service-listed addresses that the page names as a picture

  bench/browser_picture_share.py --service build-rel/service/skarvel-service \
      [--service OLD_BINARY ...] [--pages 120] [--seed 1] [--profiles main|all|NAME,...]
      [--misses] [--keep-pages DIR] [--json FILE]

Needs Debian's chromium (apt-get install chromium); nothing but the loopback
addresses is contacted.
"""
import argparse
import html
import json
import os
import random
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHROMIUM = "/usr/lib/chromium/chromium"

# name: (width, height, device pixel ratio, mobile)
PROFILES = {
    "desktop": (1366, 768, 1.0, False),
    "mobile": (412, 915, 2.625, True),
    # screens that the service's own table of screens does not hold: they show
    # whether the result carries over to viewports it was not built for
    "desktop-1600": (1600, 900, 1.0, False),
    "desktop-1440": (1440, 900, 1.0, False),
    "window-1100": (1100, 800, 1.0, False),
    "laptop-150": (1280, 800, 1.5, False),
    "tablet-small": (600, 960, 2.0, True),
    "galaxy": (384, 832, 2.8125, True),
    "pixel-xl": (411, 731, 3.5, True),
    "iphone-max": (428, 926, 3.0, True),
}
MAIN_PROFILES = ["desktop", "mobile"]

# ----------------------------------------------------------------------------- pages


def attr(value):
    return html.escape(value, quote=True)


class Page:
    """One generated page: its markup, and every address it names as a picture,
    grouped by element (the candidates one element chooses among)."""

    def __init__(self, rng, path, hosts):
        self.rng = rng
        self.path = path
        self.hosts = hosts
        self.url = hosts["main"] + path
        self.base = self.url
        self.head = []
        self.body = []
        self.styles = []
        self.groups = []  # (kind, [absolute addresses])
        self.icons = set()
        self.counter = 0

    def absolute(self, ref):
        ref = ref.strip(" \t\n\r\f")
        if ref.startswith("data:"):
            return None
        return urllib.parse.urljoin(self.base, ref)

    def group(self, kind, refs):
        urls = [u for u in (self.absolute(r) for r in refs) if u]
        if urls:
            self.groups.append((kind, urls))

    def uid(self):
        self.counter += 1
        return self.counter

    def markup(self):
        style = "<style>\n" + "\n".join(self.styles) + "\n</style>\n" if self.styles else ""
        return (
            "<!DOCTYPE html>\n<html lang=en><head><meta charset=utf-8>\n"
            '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
            + "\n".join(self.head)
            + "\n"
            + style
            + "</head>\n<body>\n"
            + "\n".join(self.body)
            + "\n</body></html>\n"
        )


def srcset_text(rng, pairs):
    """A srcset from (address, descriptor) pairs, sometimes laid out over lines and tabs."""
    parts = [f"{u} {d}".strip() for u, d in pairs]
    style = rng.random()
    if not all(d for _, d in pairs) and 0.22 <= style < 0.3:
        style = 1  # "a.jpg,b.jpg 2x" is one address "a.jpg,b.jpg" to a browser
    if style < 0.15:
        return "\n      " + ",\n      ".join(parts) + "\n    "
    if style < 0.22:
        return " " + ",\t".join(p.replace(" ", "  ") for p in parts) + " "
    if style < 0.3:
        return ",".join(parts)
    return ", ".join(parts)


SIZES = [
    "100vw",
    "(max-width: 768px) 100vw, (max-width: 1200px) 50vw, 33vw",
    "(min-width: 1280px) 50vw, (min-width: 1008px) 66vw, 96vw",
    "((min-width: 600px) and (max-width: 1004px)) 84vw, (min-width: 1005px) 60vw, 100vw",
    "(max-width: 1024px) 100vw, 1024px",
    "(min-width: 1024px) calc(50vw - 48px), calc(100vw - 32px)",
    "(width >= 768px) 50vw, 100vw",
    "(max-width: 47.9375em) 100vw, 720px",
    "min(100vw, 720px)",
    "(min-width: 64em) 33vw, (min-width: 40em) 50vw, 100vw",
    "(min-width: 1200px) 1140px, (min-width: 992px) 960px, (min-width: 768px) 720px, calc(100vw - 30px)",
    "(max-width: 600px) 480px, 800px",
    "",
]
THUMB_SIZES = ["300px", "(max-width: 600px) 120px, 240px", "(min-width: 768px) 25vw, 50vw", "160px"]


class Site:
    """A publisher's image addresses; each page of the site uses one of these."""

    def __init__(self, rng, hosts, kind):
        self.kind = kind
        self.hosts = hosts
        self.rng = rng
        self.sizes = rng.choice(SIZES)
        self.year = rng.choice([2021, 2022, 2023, 2024, 2024, 2025, 2025, 2026])

    def addresses(self, slug, fmt="jpg"):
        """(widths, function width -> address) of one picture."""
        h = self.hosts
        k = self.kind
        y = self.year
        if k == "wordpress":
            base = f"/wp-content/uploads/{y}/0{self.rng.randint(1, 9)}/{slug}"
            return [300, 768, 1024, 1536, 2048], lambda w: f"{base}-{w}x{w * 2 // 3}.{fmt}"
        if k == "jetpack":
            base = f"{h['cdn']}/i0/site/wp-content/uploads/{y}/05/{slug}.{fmt}"
            return [300, 768, 1024, 1200], lambda w: f"{base}?resize={w}%2C{w * 9 // 16}&ssl=1"
        if k == "nextjs":
            enc = urllib.parse.quote(f"/_next/static/media/{slug}.a1b2c3.{fmt}", safe="")
            return [640, 750, 828, 1080, 1200, 1920, 2048, 3840], lambda w: f"/_next/image?url={enc}&w={w}&q=75"
        if k == "cloudinary":
            return [320, 480, 640, 800, 1024, 1280, 1600, 2000], (
                lambda w: f"{h['cdn']}/demo/image/upload/c_fill,f_auto,q_auto,w_{w}/v1712345/news/{slug}.{fmt}"
            )
        if k == "imgix":
            return [400, 800, 1200, 1600], lambda w: f"{h['proto']}/photos/{slug}.{fmt}?auto=format%2Ccompress&fit=max&w={w}"
        if k == "bbc":
            return [240, 320, 480, 640, 800, 1024, 1536], (
                lambda w: f"{h['cdn']}/news/{w}/cpsprodpb/{slug[:4]}/live/{slug}.{fmt}.webp"
            )
        if k == "astro":
            return [320, 640, 960, 1280, 1920], lambda w: f"/_astro/{slug}.Bx1{w}_Z2kq.{fmt}"
        if k == "eleventy":
            return [400, 800, 1200], lambda w: f"../img/{slug}-{w}.{fmt}"
        if k == "gatsby":
            return [200, 400, 800, 1600], lambda w: f"/static/4f2c/{w}/{slug}.{fmt}"
        if k == "legacy":
            return [320, 640, 1024], lambda w: f"media/images/{slug}_{w}.{fmt}"
        raise ValueError(k)


def pick_sizes(rng, site):
    return site.sizes if rng.random() < 0.7 else rng.choice(SIZES)


def responsive_img(pg, site, slug, lazy, sizes=None, widths=None, extra=""):
    rng = pg.rng
    all_widths, make = site.addresses(slug)
    widths = widths or all_widths
    pairs = [(make(w), f"{w}w") for w in widths]
    if site.kind == "wordpress" and rng.random() < 0.7:
        pairs = pairs[2:3] + pairs[:2] + pairs[3:]  # WordPress names the src size first
    src = make(widths[min(2, len(widths) - 1)])
    sizes = pick_sizes(rng, site) if sizes is None else sizes
    if lazy and site.kind == "wordpress" and sizes and rng.random() < 0.5:
        sizes = "auto, " + sizes
    parts = [f'src="{attr(src)}"', f'srcset="{attr(srcset_text(rng, pairs))}"']
    if sizes:
        parts.append(f'sizes="{attr(sizes)}"')
    parts.append(f'alt="Photo &quot;{slug}&quot; &amp; more"')
    parts.append('width="1200" height="800"')
    if lazy:
        parts.append('loading="lazy" decoding="async"')
    pg.group("img srcset w", [src] + [u for u, _ in pairs])
    return f"<img {' '.join(parts)}{extra}>"


def density_img(pg, site, slug, lazy):
    """A fixed-size picture with x descriptors (Next.js fixed images, imgix, CMS avatars)."""
    rng = pg.rng
    widths, make = site.addresses(slug)
    if site.kind == "imgix":
        base = make(400)
        pairs = [(f"{base}&dpr={d}&q={q}", f"{d}x") for d, q in ((1, 75), (2, 50), (3, 35), (4, 23))]
        src = base
    else:
        w1 = widths[0]
        pairs = [(make(w1), "1x"), (make(widths[min(1, len(widths) - 1)]), "2x")]
        if rng.random() < 0.4:
            pairs.append((make(widths[min(2, len(widths) - 1)]), "3x"))
        src = pairs[-1][0] if site.kind == "nextjs" else pairs[0][0]
        if rng.random() < 0.3:
            pairs[0] = (pairs[0][0], "")  # a candidate without descriptor is 1x
    lazy_attr = ' loading="lazy"' if lazy else ""
    pg.group("img srcset x", [src] + [u for u, _ in pairs])
    return f'<img src="{attr(src)}" srcset="{attr(srcset_text(rng, pairs))}" alt="" width="200" height="200"{lazy_attr}>'


def type_switch_picture(pg, site, slug, lazy, formats):
    """<picture> with a source per type (avif, webp, sometimes jxl) and the <img> fallback."""
    rng = pg.rng
    widths, _ = site.addresses(slug)
    sizes = pick_sizes(rng, site)
    sizes_attr = f' sizes="{attr(sizes)}"' if sizes else ""
    refs = []
    out = ["<picture>"]
    for fmt in formats:
        _, make = site.addresses(slug, fmt)
        pairs = [(make(w), f"{w}w") for w in widths]
        refs += [u for u, _ in pairs]
        mime = {"jxl": "image/jxl", "avif": "image/avif", "webp": "image/webp"}[fmt]
        out.append(f'  <source type="{mime}" srcset="{attr(srcset_text(rng, pairs))}"{sizes_attr}>')
    _, make = site.addresses(slug, "jpg")
    pairs = [(make(w), f"{w}w") for w in widths]
    src = make(widths[len(widths) // 2])
    refs += [src] + [u for u, _ in pairs]
    lazy_attr = ' loading="lazy" decoding="async"' if lazy else ' fetchpriority="high"'
    out.append(
        f'  <img src="{attr(src)}" srcset="{attr(srcset_text(rng, pairs))}"{sizes_attr} alt="{slug}" '
        f'width="1280" height="720"{lazy_attr}>'
    )
    out.append("</picture>")
    pg.group("picture type", refs)
    return "\n".join(out)


def density_webp_picture(pg, slug):
    """The 2021 pattern: a WebP source by density before a JPEG <img>."""
    base = f"/uploads/{pg.rng.choice(['2021', '2022', 'news'])}/{slug}"
    pairs = [(f"{base}.webp", "1x"), (f"{base}@2x.webp", "2x")]
    img_pairs = [(f"{base}@2x.jpg", "2x")]
    pg.group("picture webp x", [u for u, _ in pairs] + [f"{base}.jpg", f"{base}@2x.jpg"])
    return (
        f'<picture><source srcset="{attr(srcset_text(pg.rng, pairs))}" type="image/webp">'
        f'<img src="{attr(base)}.jpg" srcset="{attr(srcset_text(pg.rng, img_pairs))}" alt="{slug}"></picture>'
    )


MEDIA = [
    ("(min-width: 1024px)", "(max-width: 1023px)"),
    ("(min-width: 768px)", "(max-width: 767px)"),
    ("screen and (min-width: 40em)", "not all and (min-width: 40em)"),
    ("(orientation: landscape)", "(orientation: portrait)"),
    ("(min-width: 980px) and (-webkit-min-device-pixel-ratio: 1.25), (min-width: 980px) and (min-resolution: 120dpi)",
     "(max-width: 979px)"),
]


def art_direction_picture(pg, site, slug, lazy):
    """Different crops by media query, each crop with WebP and JPEG."""
    rng = pg.rng
    wide_media, narrow_media = rng.choice(MEDIA)
    widths, _ = site.addresses(slug)
    refs = []
    out = ["<picture>"]
    for media, crop, sizes in ((wide_media, "wide", pick_sizes(rng, site)), (narrow_media, "square", "100vw")):
        for fmt in ("webp", "jpg") if rng.random() < 0.6 else ("jpg",):
            _, make = site.addresses(f"{slug}-{crop}", fmt)
            pairs = [(make(w), f"{w}w") for w in widths]
            refs += [u for u, _ in pairs]
            type_attr = ' type="image/webp"' if fmt == "webp" else ""
            out.append(
                f'  <source media="{attr(media)}"{type_attr} srcset="{attr(srcset_text(rng, pairs))}" sizes="{attr(sizes)}">'
            )
    _, make = site.addresses(f"{slug}-wide", "jpg")
    src = make(widths[len(widths) // 2])
    refs.append(src)
    lazy_attr = ' loading="lazy"' if lazy else ""
    out.append(f'  <img src="{attr(src)}" alt="{slug}"{lazy_attr}></picture>')
    pg.group("picture media", refs)
    return "\n".join(out)


def guardian_picture(pg, slug):
    """One candidate per source, chosen by width and resolution queries."""
    base = f"{pg.hosts['cdn']}/img/media/{slug}/0_0_3000_2000/master/3000.jpg"
    rows = [
        ("(min-width: 1300px) and (-webkit-min-device-pixel-ratio: 1.25), (min-width: 1300px) and (min-resolution: 120dpi)", 620, 2),
        ("(min-width: 1300px)", 620, 1),
        ("(min-width: 980px) and (-webkit-min-device-pixel-ratio: 1.25), (min-width: 980px) and (min-resolution: 120dpi)", 460, 2),
        ("(min-width: 980px)", 460, 1),
        ("(min-width: 480px) and (-webkit-min-device-pixel-ratio: 1.25), (min-width: 480px) and (min-resolution: 120dpi)", 445, 2),
        ("(min-width: 480px)", 445, 1),
        ("(-webkit-min-device-pixel-ratio: 1.25), (min-resolution: 120dpi)", 445, 2),
        ("", 445, 1),
    ]
    out = ["<picture>"]
    refs = []
    for media, w, dpr in rows:
        u = f"{base}?width={w}&dpr={dpr}&s=none"
        refs.append(u)
        m = f' media="{attr(media)}"' if media else ""
        out.append(f'  <source{m} srcset="{attr(u)} {w * dpr}w">')
    src = f"{base}?width=445&dpr=1&s=none"
    out.append(f'  <img alt="" src="{attr(src)}" width="445" height="267" loading="lazy"></picture>')
    pg.group("picture media single", refs + [src])
    return "\n".join(out)


def nyt_picture(pg, slug):
    base = f"{pg.hosts['cdn']}/images/2025/03/01/multimedia/{slug}"
    q = "?quality=75&auto=webp"
    m3 = "(max-width: 599px) and (min-device-pixel-ratio: 3),(max-width: 599px) and (-webkit-min-device-pixel-ratio: 3),(max-width: 599px) and (min-resolution: 3dppx),(max-width: 599px) and (min-resolution: 288dpi)"
    m2 = "(max-width: 599px) and (min-device-pixel-ratio: 2),(max-width: 599px) and (-webkit-min-device-pixel-ratio: 2),(max-width: 599px) and (min-resolution: 2dppx),(max-width: 599px) and (min-resolution: 192dpi)"
    m1 = "(max-width: 599px) and (min-device-pixel-ratio: 1),(max-width: 599px) and (-webkit-min-device-pixel-ratio: 1),(max-width: 599px) and (min-resolution: 1dppx),(max-width: 599px) and (min-resolution: 96dpi)"
    s3 = f"{base}-mobileMasterAt3x.jpg{q}&disable=upscale&width=1800"
    s2 = f"{base}-mobileMasterAt3x.jpg{q}&disable=upscale&width=1200"
    s1 = f"{base}-mobileMasterAt3x.jpg{q}&disable=upscale&width=600"
    cands = [(f"{base}-articleLarge.jpg{q}&disable=upscale", "600w"), (f"{base}-jumbo.jpg{q}&disable=upscale", "1024w"),
             (f"{base}-superJumbo.jpg{q}&disable=upscale", "2048w")]
    sizes = "((min-width: 600px) and (max-width: 1004px)) 84vw, (min-width: 1005px) 60vw, 100vw"
    pg.group("picture nyt", [s3, s2, s1] + [u for u, _ in cands])
    return (
        f'<picture><source media="{m3}" srcset="{attr(s3)}"><source media="{m2}" srcset="{attr(s2)}">'
        f'<source media="{m1}" srcset="{attr(s1)}">'
        f'<img alt="" class="css-rq4mmj" src="{attr(cands[0][0])}" srcset="{attr(srcset_text(pg.rng, cands))}" '
        f'sizes="{sizes}" decoding="async" width="600" height="400"></picture>'
    )


def dark_logo(pg):
    refs = ["/static/logo-dark.svg", "/static/logo.svg"]
    pg.group("picture color scheme", refs)
    return (
        '<a href="/" class="logo"><picture><source srcset="/static/logo-dark.svg" media="(prefers-color-scheme: dark)">'
        '<img src="/static/logo.svg" alt="The Daily" width="180" height="32"></picture></a>'
    )


def lazysizes_img(pg, site, slug):
    """A 2021 lazy loader: data-src/data-srcset swapped in by a script, a <noscript> fallback."""
    widths, make = site.addresses(slug)
    pairs = [(make(w), f"{w}w") for w in widths]
    src = make(widths[1])
    pg.group("lazysizes", [src] + [u for u, _ in pairs])
    noscript = f'<noscript><img src="{attr(src)}" alt=""></noscript>' if pg.rng.random() < 0.6 else ""
    return (
        '<img class="lazyload" src="data:image/gif;base64,R0lGODlhAQABAAAAACH5BAEKAAEALAAAAAABAAEAAAICTAEAOw==" '
        f'data-src="{attr(src)}" data-srcset="{attr(srcset_text(pg.rng, pairs))}" data-sizes="auto" alt="">{noscript}'
    )


def gatsby_image(pg, site, slug):
    """gatsby-plugin-image: data-srcset until its script runs, the full markup in <noscript>."""
    widths, _ = site.addresses(slug)
    sizes = "(min-width: 800px) 800px, 100vw"
    refs = []
    sources = []
    noscript_sources = []
    for fmt, mime in (("avif", "image/avif"), ("webp", "image/webp")):
        _, make = site.addresses(slug, fmt)
        text = srcset_text(pg.rng, [(make(w), f"{w}w") for w in widths])
        refs += [make(w) for w in widths]
        sources.append(f'<source type="{mime}" data-srcset="{attr(text)}" sizes="{sizes}">')
        noscript_sources.append(f'<source type="{mime}" srcset="{attr(text)}" sizes="{sizes}">')
    _, make = site.addresses(slug, "jpg")
    text = srcset_text(pg.rng, [(make(w), f"{w}w") for w in widths])
    src = make(widths[-2])
    refs += [src] + [make(w) for w in widths]
    pg.group("gatsby", refs)
    return (
        '<div data-gatsby-image-wrapper="" class="gatsby-image-wrapper"><picture>' + "".join(sources)
        + f'<img data-gatsby-image-ssr="" data-main-image="" style="opacity:0" sizes="{sizes}" decoding="async" '
        f'loading="lazy" data-src="{attr(src)}" data-srcset="{attr(text)}" alt=""></picture>'
        + "<noscript><picture>" + "".join(noscript_sources)
        + f'<img loading="lazy" decoding="async" src="{attr(src)}" srcset="{attr(text)}" sizes="{sizes}" alt=""></picture></noscript></div>'
    )


def picture_link(pg, site, slug):
    """A thumbnail linked to its full-size picture."""
    widths, make = site.addresses(slug)
    full = make(widths[-1])
    thumb = make(widths[0])
    pg.group("linked full size", [full])
    pg.group("thumbnail", [thumb])
    return f'<a href="{attr(full)}" class="lightbox"><img src="{attr(thumb)}" alt="" width="200"></a>'


# ----------------------------------------------------------------------------- whole pages

SLUG_WORDS = ["storm", "election", "market", "summit", "river", "festival", "court", "match", "rocket",
              "harbour", "protest", "museum", "forest", "bridge", "vote", "council", "striker", "volcano"]


def slug(rng, pg):
    return f"{rng.choice(SLUG_WORDS)}-{rng.choice(SLUG_WORDS)}-{pg.uid()}{rng.randint(10, 99)}"


def head_parts(pg, site, rng):
    h = pg.hosts
    icon_style = rng.random()
    icons = []
    if icon_style < 0.45:
        icons = [("icon", "/favicon.ico", ' sizes="32x32"'), ("icon", "/icon.svg", ' type="image/svg+xml"'),
                 ("apple-touch-icon", "/apple-touch-icon.png", "")]
    elif icon_style < 0.7:
        icons = [("icon", f"/static/favicon-32x32.png", ' type="image/png" sizes="32x32"'),
                 ("icon", f"/static/favicon-16x16.png", ' type="image/png" sizes="16x16"'),
                 ("apple-touch-icon", "/static/apple-touch-icon.png", ' sizes="180x180"'),
                 ("mask-icon", "/static/safari-pinned-tab.svg", ' color="#5bbad5"')]
    elif icon_style < 0.85:
        icons = [("shortcut icon", f"{h['cdn']}/assets/favicon.ico", ""),
                 ("apple-touch-icon-precomposed", f"{h['cdn']}/assets/touch-icon-192.png", "")]
    else:
        icons = [("icon", "/favicon.svg", ' type="image/svg+xml"')]
    for rel, href, extra in icons:
        pg.head.append(f'<link rel="{rel}" href="{attr(href)}"{extra}>')
        pg.group(f"link {rel}", [href])
        if "icon" in rel.split():
            pg.icons.add(pg.absolute(href))
    pg.head.append('<link rel="manifest" href="/site.webmanifest">')
    pg.head.append(f'<link rel="stylesheet" href="/static/site.css?v={site.year}">')
    pg.head.append('<link rel="preload" as="font" href="/static/fonts/serif.woff2" type="font/woff2" crossorigin>')
    pg.head.append('<link rel="preload" as="script" href="/static/app.js">')
    pg.head.append(f'<link rel="preconnect" href="{h["cdn"]}">')
    pg.head.append(f'<link rel="canonical" href="{attr(pg.url)}">')
    pg.head.append('<link rel="alternate" type="application/rss+xml" href="/feed.xml">')
    og = f"{h['cdn']}/social/{pg.path.rsplit('/', 1)[-1].split('.')[0]}-1200x630.jpg?w=1200&amp;fit=crop"
    pg.head.append(f'<meta property="og:image" content="{og}">')
    pg.group("meta og:image", [html.unescape(og)])
    if rng.random() < 0.6:
        tw = "/static/twitter-card.png"
        pg.head.append(f'<meta name="twitter:image" content="{tw}">')
        pg.group("meta twitter:image", [tw])
    ld = [f"{h['main']}/img/ld/{pg.uid()}-16x9.jpg", f"{h['main']}/img/ld/{pg.uid()}-4x3.jpg"]
    pg.head.append(
        '<script type="application/ld+json">'
        + json.dumps({"@context": "https://schema.org", "@type": "NewsArticle", "headline": "A story",
                      "image": ld, "publisher": {"@type": "Organization", "logo": {"url": f"{h['main']}/static/amp-logo.png"}},
                      "datePublished": f"{site.year}-03-01T10:00:00Z"})
        + "</script>"
    )
    pg.group("json-ld", ld + [f"{h['main']}/static/amp-logo.png"])
    pg.head.append('<script src="/static/app.js" defer></script>')


def hero_preload(pg, site, slug_text):
    """Next.js / Nuxt preload of the hero: imagesrcset without href, or href alone."""
    widths, make = site.addresses(slug_text)
    sizes = pick_sizes(pg.rng, site) or "100vw"
    pairs = [(make(w), f"{w}w") for w in widths]
    if pg.rng.random() < 0.5:
        pg.head.append(
            f'<link rel="preload" as="image" imagesrcset="{attr(srcset_text(pg.rng, pairs))}" '
            f'imagesizes="{attr(sizes)}" fetchpriority="high">'
        )
    else:
        href = make(widths[-1])
        pg.head.append(f'<link rel="preload" href="{attr(href)}" as="image" fetchpriority="high">')
        pairs = [(href, "")]
    pg.group("link preload", [u for u, _ in pairs])
    return sizes


def header(pg, site, rng):
    h = pg.hosts
    out = ['<header class="masthead">']
    style = rng.random()
    if style < 0.3:
        out.append(dark_logo(pg))
    elif style < 0.55:
        out.append('<a href="/" class="logo"><img src="/static/logo.svg" alt="The Daily" width="180" height="32"></a>')
        pg.group("img svg", ["/static/logo.svg"])
    elif style < 0.8:
        out.append('<a href="/"><svg class="logo" viewBox="0 0 180 32" width="180" height="32" role="img">'
                   '<image href="/static/brand/wordmark.png" width="180" height="32"/></svg></a>')
        pg.group("svg image", ["/static/brand/wordmark.png"])
    else:
        out.append('<a href="/"><svg xmlns:xlink="http://www.w3.org/1999/xlink" width="160" height="40">'
                   '<image xlink:href="../static/brand/mark.svg" width="160" height="40"></image></svg></a>')
        pg.group("svg image", ["../static/brand/mark.svg"])
    # navigation icons
    nav = ['<nav>']
    for name in rng.sample(["search", "menu", "user", "bell", "close"], 3):
        s = rng.random()
        if s < 0.4:
            ref = f"/static/icons/{name}.svg"
            nav.append(f'<button><img src="{ref}" alt="{name}" width="24" height="24"></button>')
            pg.group("img svg", [ref])
        elif s < 0.7:
            nav.append(f'<button><svg class="icon" aria-hidden="true"><use href="/static/sprite.svg#{name}"></use></svg></button>')
            pg.group("svg use", ["/static/sprite.svg"])
        elif s < 0.85:
            nav.append(f'<button><svg aria-hidden="true"><use xlink:href="#{name}"></use></svg></button>')
        else:
            nav.append(f'<button class="icon-{name}"></button>')
            pg.styles.append(f".icon-{name}{{background:url(/static/icons/{name}-bg.svg) no-repeat center/24px}}")
            pg.group("css svg", [f"/static/icons/{name}-bg.svg"])
    nav.append('<a href="/world/">World</a> <a href="/politics/">Politics</a> <a href="/sport/">Sport</a>')
    nav.append('<form action="/search"><input type="search" name="q">')
    if rng.random() < 0.3:
        nav.append('<input type="image" src="/static/search-go.png" alt="Go">')
        pg.group("input image", ["/static/search-go.png"])
    nav.append("</form></nav>")
    out += nav
    out.append("</header>")
    return "\n".join(out)


def article_figure(pg, site, rng, lazy, hero=False):
    s = slug(rng, pg)
    k = rng.random()
    if site.kind == "gatsby" and k < 0.6:
        pic = gatsby_image(pg, site, s)
    elif site.kind == "legacy" and k < 0.5:
        pic = lazysizes_img(pg, site, s)
    elif k < 0.35:
        pic = responsive_img(pg, site, s, lazy)
    elif k < 0.55:
        formats = rng.choice([("avif", "webp"), ("webp",), ("avif",), ("jxl", "avif", "webp"), ("avif", "webp")])
        pic = type_switch_picture(pg, site, s, lazy, formats)
    elif k < 0.65:
        pic = art_direction_picture(pg, site, s, lazy)
    elif k < 0.72:
        pic = guardian_picture(pg, s)
    elif k < 0.78:
        pic = nyt_picture(pg, s)
    elif k < 0.85:
        pic = density_webp_picture(pg, s)
    elif k < 0.92:
        pic = picture_link(pg, site, s)
    else:
        pic = responsive_img(pg, site, s, lazy, sizes="")
    cls = "hero" if hero else "figure"
    return f'<figure class="{cls}">{pic}<figcaption>Caption &amp; credit</figcaption></figure>'


def related_list(pg, site, rng):
    out = ['<section class="related"><h2>More</h2><ul>']
    for _ in range(rng.randint(3, 8)):
        s = slug(rng, pg)
        k = rng.random()
        if k < 0.45:
            widths, _ = site.addresses(s)
            pic = responsive_img(pg, site, s, True, sizes=rng.choice(THUMB_SIZES), widths=widths[:3])
        elif k < 0.7:
            pic = density_img(pg, site, s, True)
        elif k < 0.8:
            pic = lazysizes_img(pg, site, s)
        elif k < 0.9:
            widths, make = site.addresses(s)
            ref = make(widths[0])
            pic = f'<div class="thumb" style="background-image: url(&quot;{attr(ref)}&quot;)"></div>'
            pg.group("style attribute", [ref])
        else:
            pic = type_switch_picture(pg, site, s, True, ("webp",))
        out.append(f'<li><a href="/news/{s}.html">{pic}<span>Headline {s}</span></a></li>')
    out.append("</ul></section>")
    return "\n".join(out)


def extras(pg, site, rng):
    """The rest of a news page: CSS backgrounds, image-set(), video, embeds, templates, scripts."""
    h = pg.hosts
    out = []
    if rng.random() < 0.5:
        bg = f"/img/banners/{slug(rng, pg)}"
        pg.styles.append(
            f'.promo{{background-image:url("{bg}.jpg");'
            f'background-image:image-set("{bg}.avif" type("image/avif"), "{bg}.webp" type("image/webp"), "{bg}.jpg" type("image/jpeg"))}}'
        )
        out.append('<div class="promo">Subscribe</div>')
        pg.group("css image-set strings", [f"{bg}.jpg", f"{bg}.avif", f"{bg}.webp"])
    if rng.random() < 0.4:
        bg = f"/img/tiles/{slug(rng, pg)}"
        pg.styles.append(f".tile{{background-image:-webkit-image-set(url({bg}.png) 1x, url({bg}@2x.png) 2x)}}")
        out.append('<div class="tile"></div>')
        pg.group("css -webkit-image-set", [f"{bg}.png", f"{bg}@2x.png"])
    if rng.random() < 0.3:
        pg.styles.append(".unused-rule{background:url(/img/never-shown.jpg)}")
        pg.group("css unused", ["/img/never-shown.jpg"])
    if rng.random() < 0.4:
        poster = f"/media/posters/{slug(rng, pg)}.jpg"
        out.append(f'<video controls preload="none" poster="{poster}" width="640"><source src="/media/clip.mp4" type="video/mp4">'
                   '<track kind="captions" src="/media/clip.vtt"></video>')
        pg.group("video poster", [poster])
    if rng.random() < 0.3:
        chart = f"/graphics/chart-{pg.uid()}.svg"
        out.append(f'<object data="{chart}" type="image/svg+xml" width="600" height="300">Chart</object>')
        pg.group("object svg", [chart])
    if rng.random() < 0.2:
        m = f"/graphics/map-{pg.uid()}.svg"
        out.append(f'<embed src="{m}" type="image/svg+xml" width="400" height="300">')
        pg.group("embed svg", [m])
    if rng.random() < 0.3:
        out.append('<object data="/docs/report.pdf" type="application/pdf" width="1" height="1"></object>')
    if rng.random() < 0.4:
        t = f"/img/templates/card-{pg.uid()}.jpg"
        out.append(f'<template id="card"><article><img src="{t}" alt=""></article></template>')
        pg.group("template", [t])
    if rng.random() < 0.5:
        px = f"{h['cdn']}/px/pixel.gif?site=daily&amp;page={pg.uid()}"
        out.append(f'<noscript><img src="{px}" width="1" height="1" alt=""></noscript>')
        pg.group("noscript pixel", [html.unescape(px)])
    if rng.random() < 0.4:
        lit = f"/img/preload/next-{pg.uid()}.jpg"
        out.append(f'<script>var pre = new Image(); pre.src = "{lit}";</script>')
        pg.group("script literal", [lit])
    out.append('<script>(new Image()).src = "/px/beacon.gif?t=" + Date.now();</script>')
    out.append('<iframe src="/embed/widget.html" width="300" height="100" loading="lazy"></iframe>')
    out.append(f'<p>Read <a href="/news/other-story.html">another story</a> or '
               f'<a href="{h["cdn"]}/downloads/brochure.pdf">the brochure</a>.</p>')
    if rng.random() < 0.3:
        out.append('<table background="/img/legacy/table-bg.gif"><tr><td>Old layout</td></tr></table>')
        pg.group("background attribute", ["/img/legacy/table-bg.gif"])
    if rng.random() < 0.3:
        out.append('<img src="data:image/svg+xml;charset=utf-8,%3Csvg xmlns=%27http://www.w3.org/2000/svg%27/%3E" alt="">')
    return "\n".join(out)


def footer(pg, rng):
    out = ['<footer><ul class="social">']
    for name in ["facebook", "x", "instagram", "youtube", "tiktok"]:
        s = rng.random()
        if s < 0.5:
            ref = f"/static/social/{name}.svg"
            out.append(f'<li><a href="https://{name}.example/daily"><img src="{ref}" alt="{name}" width="20" height="20" loading="lazy"></a></li>')
            pg.group("img svg", [ref])
        else:
            out.append(f'<li><a href="https://{name}.example/daily"><svg width="20" height="20"><use href="/static/social.svg#{name}"/></svg></a></li>')
            pg.group("svg use", ["/static/social.svg"])
    out.append("</ul>")
    if rng.random() < 0.5:
        out.append('<img src="  /static/badges/app-store.png \n" alt="App Store" loading="lazy" width="120">')
        pg.group("img src whitespace", ["/static/badges/app-store.png"])
    out.append("</footer>")
    return "\n".join(out)


LAZY_SWAP = """<script>
document.addEventListener('DOMContentLoaded', function () {
  document.querySelectorAll('img.lazyload, [data-gatsby-image-wrapper] source, [data-gatsby-image-wrapper] img').forEach(function (el) {
    if (el.dataset.sizes === 'auto') el.sizes = (el.offsetWidth || el.parentNode.offsetWidth) + 'px';
    if (el.dataset.srcset) el.srcset = el.dataset.srcset;
    if (el.dataset.src) el.src = el.dataset.src;
    if (el.style.opacity === '0') el.style.opacity = 1;
  });
});
</script>"""

PAGE_CSS = """body{margin:0;font:16px/1.5 serif} img,video{max-width:100%;height:auto} img.lazyload{width:100%}
.related ul{display:grid;grid-template-columns:repeat(auto-fill,minmax(160px,1fr));gap:16px;list-style:none;padding:0}
.thumb{width:160px;height:100px;background-size:cover} .promo,.tile{height:120px} .social img{width:20px}
@media (min-width:1024px){main{max-width:1200px;margin:auto}}"""


def make_page(rng, index, hosts):
    kinds = ["wordpress", "jetpack", "nextjs", "cloudinary", "imgix", "bbc", "astro", "eleventy", "gatsby", "legacy"]
    site = Site(rng, hosts, rng.choice(kinds))
    year = site.year
    path = f"/{site.kind}/{year}/{index:03d}/story-{index}.html"
    pg = Page(rng, path, hosts)
    if site.kind == "eleventy" or rng.random() < 0.1:
        # relative addresses of these pages resolve against <base href>
        pg.head.append(f'<base href="/{site.kind}/{year}/articles/">')
        pg.base = urllib.parse.urljoin(pg.url, f"/{site.kind}/{year}/articles/")
    head_parts(pg, site, rng)
    pg.styles.append(PAGE_CSS)
    body = [header(pg, site, rng), "<main><article><h1>Headline</h1>"]
    hero_slug = slug(rng, pg)
    if rng.random() < 0.4:
        sizes = hero_preload(pg, site, hero_slug)
        widths, make = site.addresses(hero_slug)
        pairs = [(make(w), f"{w}w") for w in widths]
        body.append(f'<figure class="hero"><img src="{attr(make(widths[-1]))}" srcset="{attr(srcset_text(rng, pairs))}" '
                    f'sizes="{attr(sizes)}" alt="Hero" fetchpriority="high"></figure>')
        pg.group("img srcset w", [make(widths[-1])] + [u for u, _ in pairs])
    else:
        body.append(article_figure(pg, site, rng, lazy=False, hero=True))
    for i in range(rng.randint(2, 6)):
        body.append("<p>" + "Words of the story. " * rng.randint(20, 60) + "</p>")
        body.append(article_figure(pg, site, rng, lazy=True))
    body.append("</article>")
    body.append(related_list(pg, site, rng))
    body.append(extras(pg, site, rng))
    body.append("</main>")
    body.append(footer(pg, rng))
    if site.kind in ("gatsby", "legacy") or "lazyload" in "".join(body):
        body.append(LAZY_SWAP)
    pg.body = body
    return pg


# ----------------------------------------------------------------------------- server

PNG = bytes.fromhex(
    "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
    "1f15c4890000000d49444154789c6360000002000154a24f5d0000000049454e44ae426082"
)
SVG = b'<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24"><rect width="24" height="24"/></svg>'
SPRITE = (b'<svg xmlns="http://www.w3.org/2000/svg">'
          + b"".join(b'<symbol id="%s" viewBox="0 0 24 24"><rect width="24" height="24"/></symbol>' % n
                     for n in (b"search", b"menu", b"user", b"bell", b"close", b"facebook", b"x", b"instagram",
                               b"youtube", b"tiktok"))
          + b"</svg>")
SITE_CSS = b".masthead{background:url(/static/css/masthead-texture.png) repeat-x}"
PICTURE_TYPES = {"jpg": "image/jpeg", "jpeg": "image/jpeg", "png": "image/png", "gif": "image/gif",
                 "webp": "image/webp", "avif": "image/avif", "jxl": "image/jxl", "ico": "image/x-icon"}


def answer_for(path, pages):
    """Body and type of an address of the local sites."""
    bare = urllib.parse.urlsplit(path).path
    if bare in pages:
        return pages[bare].encode(), "text/html; charset=utf-8"
    ext = bare.rsplit(".", 1)[-1].lower() if "." in bare.rsplit("/", 1)[-1] else ""
    if bare.endswith("sprite.svg") or bare.endswith("social.svg"):
        return SPRITE, "image/svg+xml"
    if ext == "svg":
        return SVG, "image/svg+xml"
    if ext == "css":
        return SITE_CSS, "text/css"
    if ext == "js":
        return b"/* app */", "text/javascript"
    if ext == "woff2":
        return b"wOF2", "font/woff2"
    if ext in ("html", "xml"):
        return b"<!doctype html><title>widget</title><p>widget", "text/html"
    if ext in ("mp4", "vtt", "pdf", "webmanifest"):
        return b"\0" * 16, {"mp4": "video/mp4", "vtt": "text/vtt", "pdf": "application/pdf",
                            "webmanifest": "application/manifest+json"}[ext]
    return PNG, PICTURE_TYPES.get(ext, "image/webp")


class Server:
    def __init__(self, pages):
        self.pages = pages
        handler_pages = pages

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                body, ctype = answer_for(self.path, handler_pages)
                self.send_response(200)
                self.send_header("Content-Type", ctype)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        for attempt in range(20):  # the second address needs the port the first one got
            self.main = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
            port = self.main.server_address[1]
            try:
                self.cdn = ThreadingHTTPServer(("127.0.0.2", port), Handler)
                break
            except OSError:
                self.main.server_close()
        else:
            raise RuntimeError("no port free on both 127.0.0.1 and 127.0.0.2")
        self.hosts = {"main": f"http://127.0.0.1:{port}", "cdn": f"http://127.0.0.2:{port}",
                      "proto": f"//localhost:{port}"}
        for s in (self.main, self.cdn):
            threading.Thread(target=s.serve_forever, daemon=True).start()

    def close(self):
        for s in (self.main, self.cdn):
            s.shutdown()
            s.server_close()


# ----------------------------------------------------------------------------- browser


class Chromium:
    """Headless Chromium driven over --remote-debugging-pipe (file descriptors 3 and 4)."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="share-chromium-")
        to_chrome_r, self.to_chrome = os.pipe()
        self.from_chrome, from_chrome_w = os.pipe()

        def give_pipes():
            a, b = os.dup(to_chrome_r), os.dup(from_chrome_w)
            os.dup2(a, 3)
            os.dup2(b, 4)

        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-extensions", "--mute-audio", f"--user-data-dir={self.profile}", "--remote-debugging-pipe"],
            preexec_fn=give_pipes, close_fds=False, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(to_chrome_r)
        os.close(from_chrome_w)
        self.next_id = 0
        self.buffer = b""
        self.events = []

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_chrome, json.dumps(message).encode() + b"\0")
        return self.next_id

    def pump(self, timeout):
        """Reads what Chromium sent within timeout seconds into self.events."""
        end = time.monotonic() + timeout
        while True:
            while b"\0" in self.buffer:
                raw, self.buffer = self.buffer.split(b"\0", 1)
                self.events.append(json.loads(raw))
            left = end - time.monotonic()
            if left <= 0 or not select.select([self.from_chrome], [], [], left)[0]:
                return
            chunk = os.read(self.from_chrome, 1 << 20)
            if not chunk:
                raise RuntimeError("chromium closed its pipe")
            self.buffer += chunk

    def call(self, method, params=None, session=None, timeout=60):
        ident = self.send(method, params, session)
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            for i, e in enumerate(self.events):
                if e.get("id") == ident:
                    del self.events[i]
                    if "error" in e:
                        raise RuntimeError(f"{method}: {e['error']}")
                    return e.get("result", {})
            self.pump(0.2)
        raise RuntimeError(f"{method}: no answer")

    def load(self, url, profile, icons):
        """Picture addresses the browser requests while loading url and scrolling to its end."""
        width, height, ratio, mobile = profile
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        for method, params in (("Network.enable", {}), ("Page.enable", {}),
                               ("Network.setCacheDisabled", {"cacheDisabled": True}),
                               ("Emulation.setDeviceMetricsOverride",
                                {"width": width, "height": height, "deviceScaleFactor": ratio, "mobile": mobile})):
            self.call(method, params, session)
        self.events = [e for e in self.events if e.get("sessionId") != session]
        self.call("Page.navigate", {"url": url}, session)
        pictures = set()
        other = {}
        pending = set()
        loaded = False

        def drain():
            nonlocal loaded
            keep = []
            for e in self.events:
                if e.get("sessionId") != session:
                    keep.append(e)
                    continue
                method = e.get("method")
                p = e.get("params", {})
                if method == "Network.requestWillBeSent":
                    pending.add(p["requestId"])
                    u = p["request"]["url"]
                    if u.startswith(("data:", "blob:")):
                        pass  # nothing to download
                    elif p.get("type") == "Image" or u in icons:
                        pictures.add(u)
                    else:
                        other[u] = p.get("type")
                elif method in ("Network.loadingFinished", "Network.loadingFailed"):
                    pending.discard(p["requestId"])
                elif method == "Page.loadEventFired":
                    loaded = True
            self.events = keep

        def settle(limit, quiet=0.4):
            # settled: loaded, and no request started or in flight for a while (a request
            # that never ends, such as a beacon, holds it up for at most three seconds)
            end = time.monotonic() + limit
            last = time.monotonic()
            while time.monotonic() < end:
                before = (len(pictures), len(other), len(pending))
                self.pump(0.1)
                drain()
                now = time.monotonic()
                if (len(pictures), len(other), len(pending)) != before:
                    last = now
                if loaded and ((not pending and now - last > quiet) or now - last > 3):
                    return

        settle(30)
        for _ in range(30):
            done = self.call("Runtime.evaluate", {
                "expression": "window.scrollBy(0, 2 * window.innerHeight); "
                              "window.scrollY + window.innerHeight >= document.documentElement.scrollHeight",
                "returnByValue": True}, session)
            settle(5, 0.25)
            if done.get("result", {}).get("value"):
                break
        settle(10)
        self.call("Target.closeTarget", {"targetId": target})
        return pictures, other

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self.to_chrome)
        os.close(self.from_chrome)
        shutil.rmtree(self.profile, ignore_errors=True)


# ----------------------------------------------------------------------------- service


class Service:
    def __init__(self, binary):
        self.proc = subprocess.Popen([binary, "--host", "127.0.0.1", "--port", "0", "--threads", "4"],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.proc.stdout.readline())

    def pictures(self, page_url):
        url = f"http://127.0.0.1:{self.port}/products/skarvel/scripts/get_images.php?url={page_url}"
        with urllib.request.urlopen(url, timeout=60) as answer:
            text = answer.read().decode("utf-8")
        return [line.split("\t")[0] for line in text.split("\r\n") if line]

    def close(self):
        self.proc.terminate()
        self.proc.wait(30)


# ----------------------------------------------------------------------------- comparison


def normal(url):
    """One spelling of an address for comparison: no fragment, no default port, escapes decoded."""
    parts = urllib.parse.urlsplit(url)
    netloc = parts.netloc.lower()
    if parts.scheme == "http" and netloc.endswith(":80"):
        netloc = netloc[:-3]
    return urllib.parse.unquote(urllib.parse.urlunsplit((parts.scheme.lower(), netloc, parts.path or "/", parts.query, "")))


def compare(pages, loads, listed):
    """Figures of one service over all pages and profiles."""
    totals = {"loaded": 0, "found": 0, "element": 0, "listed": 0, "precise": 0, "unnamed": 0}
    misses = []
    imprecise = []
    unnamed = []
    by_kind = {}
    by_profile = {}
    for name, pg in pages.items():
        groups = [(kind, {normal(u) for u in urls}) for kind, urls in pg.groups]
        named = set().union(*(g for _, g in groups)) if groups else set()
        service = {normal(u) for u in listed[name]}
        totals["listed"] += len(service)
        totals["precise"] += len(service & named)
        imprecise += [(name, u) for u in sorted(service - named)]
        for profile, requested in loads[name].items():
            for raw in sorted(requested):
                u = normal(raw)
                if u not in named:
                    totals["unnamed"] += 1
                    unnamed.append((name, profile, u))
                    continue
                kinds = [k for k, g in groups if u in g]
                totals["loaded"] += 1
                stat = by_kind.setdefault(kinds[0], [0, 0])
                stat[0] += 1
                per_profile = by_profile.setdefault(profile, [0, 0])
                per_profile[0] += 1
                if u in service:
                    totals["found"] += 1
                    totals["element"] += 1
                    stat[1] += 1
                    per_profile[1] += 1
                    continue
                if any(g & service for k, g in groups if u in g):
                    totals["element"] += 1
                misses.append((name, profile, kinds[0], u))
    return totals, misses, imprecise, by_kind, unnamed, by_profile


def percent(a, b):
    return f"{100.0 * a / b:.2f} %" if b else "n/a"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--service", action="append", required=True, help="skarvel-service binary (repeat to compare)")
    parser.add_argument("--pages", type=int, default=120)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--profiles", default="main", help="main, all, or names from: " + ", ".join(PROFILES))
    parser.add_argument("--misses", action="store_true", help="print every miss and every imprecise address")
    parser.add_argument("--keep-pages", help="write the generated pages and their picture groups here")
    parser.add_argument("--json", help="write the figures here")
    args = parser.parse_args()
    if args.profiles == "main":
        profiles = MAIN_PROFILES
    elif args.profiles == "all":
        profiles = list(PROFILES)
    else:
        profiles = args.profiles.split(",")
    if not os.path.exists(CHROMIUM):
        sys.exit("no Chromium: apt-get install chromium")

    rng = random.Random(args.seed)
    placeholder = {}
    server = Server(placeholder)
    pages = {}
    for i in range(args.pages):
        pg = make_page(rng, i, server.hosts)
        pages[pg.url] = pg
        placeholder[pg.path] = pg.markup()
    if args.keep_pages:
        os.makedirs(args.keep_pages, exist_ok=True)
        for pg in pages.values():
            stem = os.path.join(args.keep_pages, pg.path.strip("/").replace("/", "_"))
            with open(stem, "w") as f:
                f.write(placeholder[pg.path])
            with open(stem + ".groups.json", "w") as f:
                json.dump(pg.groups, f, indent=1)

    loads = {url: {} for url in pages}
    browser = Chromium()
    try:
        started = time.monotonic()
        for profile in profiles:
            for url, pg in pages.items():
                pictures, _ = browser.load(url, PROFILES[profile], pg.icons)
                loads[url][profile] = pictures
            print(f"browser: {profile} done after {time.monotonic() - started:.0f} s", file=sys.stderr)
    finally:
        browser.close()

    report = {"pages": len(pages), "profiles": profiles, "services": []}
    for binary in args.service:
        service = Service(binary)
        try:
            listed = {url: service.pictures(url) for url in pages}
        finally:
            service.close()
        totals, misses, imprecise, by_kind, unnamed, by_profile = compare(pages, loads, listed)
        print(f"\n{binary}")
        print(f"  pages {len(pages)}, profiles {', '.join(profiles)}")
        print(f"  browser-loaded pictures the pages name: {totals['loaded']} (page x profile; "
              f"{totals['unnamed']} more loaded that no page names)")
        print(f"  named share:         {percent(totals['found'], totals['loaded'])}  ({totals['found']}/{totals['loaded']})")
        print(f"  any-candidate share: {percent(totals['element'], totals['loaded'])}  ({totals['element']}/{totals['loaded']})")
        print(f"  in-page precision:   {percent(totals['precise'], totals['listed'])}  ({totals['precise']}/{totals['listed']} listed)")
        if len(profiles) > 1:
            for profile in profiles:
                loaded, found = by_profile.get(profile, (0, 0))
                w, h, ratio, _ = PROFILES[profile]
                print(f"    {profile:>17} {w}x{h} @{ratio:g}: named share {percent(found, loaded)} ({found}/{loaded})")
        missed_kinds = {}
        for _, _, kind, _ in misses:
            missed_kinds[kind] = missed_kinds.get(kind, 0) + 1
        for kind, (loaded, found) in sorted(by_kind.items()):
            if missed_kinds.get(kind):
                print(f"    missed {missed_kinds[kind]:5d} of {loaded:5d} loaded  {kind}")
        if args.misses:
            for m in misses:
                print("    miss", *m)
            for m in imprecise:
                print("    not a named picture", *m)
            for m in unnamed:
                print("    loaded, named by no page", *m)
        report["services"].append({"binary": binary, **totals, "missed_by_kind": missed_kinds,
                                   "by_profile": by_profile})
    server.close()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(report, f, indent=1)


if __name__ == "__main__":
    main()
