#include "player/pictures.h"

#include "standin/printable_text.h"
#include "player/time_money_text.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <map>

namespace player {

std::string xmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t n = sim::utf8At(text, i, &cp);
        if (n == 0) {
            // A byte that is not UTF-8 would make the whole picture unreadable.
            out += "\xEF\xBF\xBD"; // U+FFFD, the replacement character
            ++i;
            continue;
        }
        switch (cp) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case 0xFFFE:
        case 0xFFFF:
            out += "\xEF\xBF\xBD"; // no characters in XML 1.0
            break;
        default:
            // Control characters have no place in XML 1.0 text, and the ones that
            // reorder or hide text would make a label read otherwise than it is.
            if (cp == '\t' || cp == '\n')
                out.append(text, i, n);
            else if (sim::actsOnDisplay(cp))
                out += cp > 0x9F ? "\xEF\xBF\xBD" : " ";
            else
                out.append(text, i, n);
        }
        i += n;
    }
    return out;
}

namespace {

void add(std::string& out, const char* format, ...) {
    char b[1024];
    va_list ap;
    va_start(ap, format);
    const int n = vsnprintf(b, sizeof b, format, ap);
    va_end(ap);
    if (n < 0) return;
    if ((size_t)n < sizeof b) {
        out += b;
        return;
    }
    // Longer than the buffer: format again into the string itself.
    std::string big((size_t)n + 1, '\0');
    va_start(ap, format);
    vsnprintf(big.data(), big.size(), format, ap);
    va_end(ap);
    big.resize((size_t)n);
    out += big;
}

void text(std::string& out, double x, double y, const std::string& s, const char* attrs = "") {
    add(out, "<text x=\"%.1f\" y=\"%.1f\" %s>", x, y, attrs);
    out += xmlEscape(s);
    out += "</text>\n";
}

const char* const FontAttrs = "font-family=\"DejaVu Sans, Liberation Sans, Arial, sans-serif\"";

// ---------------------------------------------------------------------------
// The chart.

struct Series {
    const char* name;
    const char* colour;
    const char* dash; // "" for a solid line
};
const Series Flask = {"flask", "#2f6fb5", ""};
const Series Intake = {"intake", "#e07b12", ""};
const Series Drunk = {"drunk", "#b8323a", ""};
const Series Intensity = {"intensity (right axis)", "#2e8b57", "6 3"};

struct Band {
    const char* name;
    const char* fill;
    const char* stroke;
};
const Band DrinkBand = {"drinking", "#f6dfae", "#d9a94a"};
const Band MissionBand = {"mission", "#d3d3d3", "#8c8c8c"};
const Band PassBand = {"passed out", "#f4c2c2", "#c46a6a"};
const Band RefillBand = {"refill", "#c4e6c5", "#5aa55d"};

// A tick step for the time axis giving about eight ticks.
Millis timeStep(Millis span) {
    static const Millis steps[] = {100,     200,     500,     1000,     2000,    5000,   10000,
                                   15000,   30000,   60000,   120000,   300000,  600000, 900000,
                                   1800000, 3600000, 7200000, 10800000, 21600000};
    for (Millis s : steps)
        if (span / s <= 10) return s;
    return 21600000;
}

std::string tickLabel(Millis t, Millis step) {
    std::string s = formatTime(t);
    // Whole seconds need no tenths.
    if (step % 1000 == 0 && s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
    return s;
}

// The chart's plot area and its scales: time across, levels (0 to 125) up the left
// axis, the intensity up the right one.
struct Chart {
    const Recording& r;
    double W = 1200, H = 640;
    double x0 = 70, x1 = W - 80, y0 = 128, y1 = H - 70;
    Millis end = 1;
    double levelTop = 125; // the left axis runs 0 to 125

    explicit Chart(const Recording& recording) : r(recording), end(std::max<Millis>(recording.end, 1)) {}
    double X(Millis t) const { return x0 + (x1 - x0) * (double)std::clamp<Millis>(t, 0, end) / (double)end; }
    double Y(double level) const { return y1 - (y1 - y0) * std::clamp(level, 0.0, levelTop) / levelTop; }
    // Intensity 1.0 sits at level 100, where the intensity table reaches it.
    double YI(double intensity) const { return Y(intensity * 100.0); }
};

// The title and the legend: the lines, then the bands.
void chartHeading(std::string& o, const Chart& c) {
    add(o,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "%s>\n",
        c.W, c.H, c.W, c.H, FontAttrs);
    o += "<title>" + xmlEscape("Tolvenmire session: " + c.r.title) + "</title>\n";
    add(o, "<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"#ffffff\"/>\n", c.W, c.H);
    text(o, c.x0, 30, "Tolvenmire session — " + c.r.title,
         "font-size=\"19\" font-weight=\"bold\" fill=\"#222\"");
    text(o, c.x0, 52, c.r.subtitle + " · " + formatDuration(c.r.end) + " of game time",
         "font-size=\"13\" fill=\"#555\"");
    double lx = c.x0;
    const double ly = 84;
    for (const Series* s : {&Flask, &Intake, &Drunk, &Intensity}) {
        add(o,
            "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
            "stroke-width=\"3\"%s%s%s/>\n",
            lx, ly - 4, lx + 26, ly - 4, s->colour, *s->dash ? " stroke-dasharray=\"" : "", s->dash,
            *s->dash ? "\"" : "");
        text(o, lx + 32, ly, s->name, "font-size=\"13\" fill=\"#222\"");
        lx += 32 + 8.0 * (double)std::string(s->name).size() + 22;
    }
    lx += 10;
    for (const Band* b : {&DrinkBand, &MissionBand, &PassBand, &RefillBand}) {
        add(o, "<rect x=\"%.1f\" y=\"%.1f\" width=\"22\" height=\"12\" fill=\"%s\" stroke=\"%s\"/>\n", lx,
            ly - 10, b->fill, b->stroke);
        text(o, lx + 28, ly, b->name, "font-size=\"13\" fill=\"#222\"");
        lx += 28 + 7.5 * (double)std::string(b->name).size() + 20;
    }
}

void chartBands(std::string& o, const Chart& c, const std::vector<Span>& spans, const Band& b) {
    for (const Span& s : spans) {
        const double a = c.X(s.from), z = std::max(c.X(s.to), c.X(s.from) + 1.5);
        add(o,
            "<rect class=\"band\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\" "
            "fill-opacity=\"0.75\" stroke=\"%s\" stroke-width=\"0.8\"><title>",
            a, c.y0, z - a, c.y1 - c.y0, b.fill, b.stroke);
        o += xmlEscape(s.label + ": " + formatTime(s.from) + " to " + formatTime(s.to)) + "</title></rect>\n";
    }
}

// The bands' labels above the plot, in rows so that neighbours do not collide.
void chartBandLabels(std::string& o, const Chart& c) {
    std::vector<std::pair<const Span*, const Band*>> all;
    for (const Span& s : c.r.missions) all.push_back({&s, &MissionBand});
    for (const Span& s : c.r.drinks) all.push_back({&s, &DrinkBand});
    for (const Span& s : c.r.passOuts) all.push_back({&s, &PassBand});
    for (const Span& s : c.r.refills) all.push_back({&s, &RefillBand});
    std::sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.first->from < b.first->from; });
    double rowEnd[2] = {-1e9, -1e9};
    for (auto& [s, b] : all) {
        const double x = c.X(s->from);
        const double width = 6.6 * (double)s->label.size();
        int row = rowEnd[0] <= x ? 0 : rowEnd[1] <= x ? 1 : -1;
        if (row < 0) continue; // no room: the band speaks for itself
        rowEnd[row] = x + width + 6;
        text(o, x + 1, c.y0 - 6 - 13 * (1 - row), s->label,
             (std::string("class=\"band-label\" font-size=\"11\" fill=\"") + b->stroke + "\"").c_str());
    }
}

// The grid, the three axes and their names.
void chartAxes(std::string& o, const Chart& c) {
    o += "<g id=\"axes\" font-size=\"12\" fill=\"#444\">\n";
    for (int level = 0; level <= 120; level += 20) {
        add(o, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#e4e4e4\"/>\n", c.x0,
            c.Y(level), c.x1, c.Y(level));
        text(o, c.x0 - 8, c.Y(level) + 4, std::to_string(level), "text-anchor=\"end\"");
    }
    for (int q = 0; q <= 4; ++q) {
        const double v = q * 0.25;
        char b[16];
        snprintf(b, sizeof b, "%.2f", v);
        text(o, c.x1 + 8, c.YI(v) + 4, b, "text-anchor=\"start\" fill=\"#2e8b57\"");
        add(o, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2e8b57\"/>\n", c.x1, c.YI(v),
            c.x1 + 4, c.YI(v));
    }
    const Millis step = timeStep(c.end);
    for (Millis t = 0; t <= c.end; t += step) {
        add(o, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#eeeeee\"/>\n", c.X(t), c.y0,
            c.X(t), c.y1);
        add(o, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#444\"/>\n", c.X(t), c.y1,
            c.X(t), c.y1 + 5);
        text(o, c.X(t), c.y1 + 19, tickLabel(t, step), "text-anchor=\"middle\"");
    }
    add(o, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"#444\"/>\n",
        c.x0, c.y0, c.x1 - c.x0, c.y1 - c.y0);
    text(o, (c.x0 + c.x1) / 2, c.y1 + 42, "game time (minutes:seconds)",
         "text-anchor=\"middle\" font-size=\"13\"");
    add(o,
        "<text x=\"%.1f\" y=\"%.1f\" transform=\"rotate(-90 %.1f %.1f)\" text-anchor=\"middle\" "
        "font-size=\"13\">level (intake and drunk 0 to 121, flask 99 = full)</text>\n",
        c.x0 - 44, (c.y0 + c.y1) / 2, c.x0 - 44, (c.y0 + c.y1) / 2);
    add(o,
        "<text x=\"%.1f\" y=\"%.1f\" transform=\"rotate(90 %.1f %.1f)\" text-anchor=\"middle\" "
        "font-size=\"13\" "
        "fill=\"#2e8b57\">intensity written to the game</text>\n",
        c.x1 + 56, (c.y0 + c.y1) / 2, c.x1 + 56, (c.y0 + c.y1) / 2);
    o += "</g>\n";
}

// One level as steps: each value holds until the next sample.
void chartSeries(std::string& o, const Chart& c, const Series& s, double (*value)(const Sample&),
                 bool intensityAxis) {
    if (c.r.samples.empty()) return;
    std::string d;
    double lastY = 0;
    for (size_t i = 0; i < c.r.samples.size(); ++i) {
        const double v = value(c.r.samples[i]);
        const double yy = intensityAxis ? c.YI(v) : c.Y(v);
        const double xx = c.X(c.r.samples[i].at);
        if (i == 0)
            add(d, "M%.1f %.1f", xx, yy);
        else if (yy != lastY)
            add(d, "H%.1f V%.1f", xx, yy);
        lastY = yy;
    }
    add(d, "H%.1f", c.X(c.end));
    add(o, "<path class=\"series\" data-series=\"%s\" d=\"", s.name);
    o += d; // long: not through the formatting buffer
    add(o, "\" fill=\"none\" stroke=\"%s\" stroke-width=\"2.2\" stroke-linejoin=\"round\"%s%s%s/>\n",
        s.colour, *s.dash ? " stroke-dasharray=\"" : "", s.dash, *s.dash ? "\"" : "");
}

// The game quit and started again: a line across the plot, labelled at its top.
void chartRestarts(std::string& o, const Chart& c) {
    o += "<g id=\"restarts\">\n";
    for (const Mark& m : c.r.restarts) {
        const double x = c.X(m.at);
        add(o,
            "<line class=\"restart\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#3b3b58\" "
            "stroke-width=\"1.6\" stroke-dasharray=\"5 3\"><title>",
            x, c.y0, x, c.y1);
        o += xmlEscape(m.label + " at " + formatTime(m.at) + ": the game quit and started again") +
             "</title></line>\n";
        // Right of the line, or left of it near the end of the plot.
        const bool room = x + 4 + 6.6 * (double)m.label.size() <= c.x1 - 4;
        text(o, room ? x + 4 : x - 4, c.y0 + 14, m.label,
             room ? "class=\"restart-label\" font-size=\"11\" fill=\"#3b3b58\""
                  : "class=\"restart-label\" font-size=\"11\" fill=\"#3b3b58\" text-anchor=\"end\"");
    }
    o += "</g>\n";
}

// Expectations along the time axis: a green tick passed, a red cross failed.
void chartExpectations(std::string& o, const Chart& c) {
    o += "<g id=\"expectations\">\n";
    for (const Mark& m : c.r.expectations) {
        const double x = c.X(m.at), y = c.y1 - 8;
        if (m.failed)
            add(o,
                "<path class=\"expect failed\" d=\"M%.1f %.1f l8 8 m0 -8 l-8 8\" stroke=\"#d00000\" "
                "stroke-width=\"2.5\"><title>",
                x - 4, y - 4);
        else
            add(o,
                "<path class=\"expect\" d=\"M%.1f %.1f l3 4 l6 -8\" fill=\"none\" stroke=\"#1a8f2a\" "
                "stroke-width=\"2\"><title>",
                x - 4, y);
        o += xmlEscape((m.failed ? "FAILED " : "ok ") + m.label + " at " + formatTime(m.at)) +
             "</title></path>\n";
    }
    o += "</g>\n";
}

double intensityOf(const Sample& s) { return (double)s.intensity; }
double flaskOf(const Sample& s) { return (double)s.flask; }
double intakeOf(const Sample& s) { return (double)s.intake; }
double drunkOf(const Sample& s) { return (double)s.drunk; }

} // namespace

ChartArea chartArea(const Recording& r) {
    const Chart c(r);
    return {c.W, c.H, c.x0, c.x1, c.y0, c.y1, c.end};
}

std::string chartSvg(const Recording& r) {
    const Chart c(r);
    std::string o;
    chartHeading(o, c);
    // Bands behind everything, labelled at the top when there is room.
    o += "<g id=\"bands\">\n";
    chartBands(o, c, r.missions, MissionBand);
    chartBands(o, c, r.drinks, DrinkBand);
    chartBands(o, c, r.passOuts, PassBand);
    chartBands(o, c, r.refills, RefillBand);
    chartBandLabels(o, c);
    o += "</g>\n";
    chartAxes(o, c);
    chartSeries(o, c, Intensity, intensityOf, true);
    chartSeries(o, c, Flask, flaskOf, false);
    chartSeries(o, c, Intake, intakeOf, false);
    chartSeries(o, c, Drunk, drunkOf, false);
    chartRestarts(o, c);
    chartExpectations(o, c);
    o += "</svg>\n";
    return o;
}

// ---------------------------------------------------------------------------
// The HUD.

namespace {

const double FrameW = 1280, FrameH = 720;
const double Pi = 3.14159265358979323846;

std::string rgba(const sim::Sprite& s) {
    char b[64];
    snprintf(b, sizeof b, "rgb(%d,%d,%d)", std::clamp(s.red, 0, 255), std::clamp(s.green, 0, 255),
             std::clamp(s.blue, 0, 255));
    return b;
}
double opacity(const sim::Sprite& s) { return std::clamp(s.alpha, 0, 255) / 255.0; }

// The level in "RPG_METER_n", or false.
bool meterLevel(const sim::Sprite& s, long* level) {
    const std::string prefix = "RPG_METER_";
    if (s.texture.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string digits = s.texture.substr(prefix.size());
    if (digits.empty()) return false;
    char* end = nullptr;
    *level = strtol(digits.c_str(), &end, 10);
    return *end == '\0';
}

// One sprite in frame pixels, our own drawing of what its texture stands for.
void drawSprite(std::string& o, const sim::Sprite& s, int index) {
    const double cx = s.x * FrameW, cy = s.y * FrameH;
    const double w = std::fabs(s.width * FrameW), h = std::fabs(s.height * FrameH);
    const double size = std::min(w, h);
    add(o, "<g class=\"sprite\" data-index=\"%d\" data-texture=\"", index);
    o += xmlEscape(s.dictionary + "/" + s.texture);
    add(o, "\" transform=\"rotate(%.2f %.2f %.2f)\" opacity=\"%.3f\">", s.rotation, cx, cy, opacity(s));
    o += "<title>" + xmlEscape(std::to_string(index) + ": " + s.dictionary + " / " + s.texture) + "</title>";
    long level = 0;
    if (meterLevel(s, &level)) {
        // A ring filled clockwise from the top to level/99.
        const double stroke = size * 0.13, radius = size / 2 - stroke / 2;
        const double fraction = std::clamp(level / 99.0, 0.0, 1.0);
        add(o,
            "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"%.2f\" fill=\"none\" stroke=\"%s\" stroke-opacity=\"0.22\" "
            "stroke-width=\"%.2f\"/>",
            cx, cy, radius, rgba(s).c_str(), stroke);
        if (fraction >= 0.999) {
            add(o,
                "<circle class=\"ring\" cx=\"%.2f\" cy=\"%.2f\" r=\"%.2f\" fill=\"none\" stroke=\"%s\" "
                "stroke-width=\"%.2f\"/>",
                cx, cy, radius, rgba(s).c_str(), stroke);
        } else if (fraction > 0) {
            const double a = fraction * 2 * Pi;
            const double ex = cx + radius * std::sin(a), ey = cy - radius * std::cos(a);
            add(o,
                "<path class=\"ring\" d=\"M%.2f %.2f A%.2f %.2f 0 %d 1 %.2f %.2f\" fill=\"none\" "
                "stroke=\"%s\" "
                "stroke-width=\"%.2f\" stroke-linecap=\"butt\"/>",
                cx, cy - radius, radius, radius, fraction > 0.5 ? 1 : 0, ex, ey, rgba(s).c_str(), stroke);
        }
    } else if (s.texture.find("BACKGROUND") != std::string::npos) {
        add(o, "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"%.2f\" fill=\"%s\"/>", cx, cy, size * 0.37,
            rgba(s).c_str());
    } else if (s.texture.find("MOONSHINE") != std::string::npos) {
        // A jug: body, neck and handle, scaled to the box.
        const double u = size / 10;
        add(o,
            "<path d=\"M%.2f %.2f h%.2f v%.2f q%.2f %.2f %.2f %.2f v%.2f h%.2f v%.2f q%.2f %.2f %.2f %.2f "
            "z\" "
            "fill=\"%s\"/>",
            cx - 1.2 * u, cy - 5 * u, 2.4 * u, 2.2 * u, 3.4 * u, 0.6 * u, 3.4 * u, 3.6 * u, 4.2 * u, -9.2 * u,
            -4.2 * u, 0.0, -3.0 * u, 3.4 * u, -3.6 * u, rgba(s).c_str());
    } else {
        // Any other icon: a five-pointed star.
        std::string d;
        for (int k = 0; k < 10; ++k) {
            const double rr = (k % 2 ? 0.22 : 0.5) * size;
            const double a = k * Pi / 5;
            add(d, "%s%.2f %.2f", k ? " L" : "M", cx + rr * std::sin(a), cy - rr * std::cos(a));
        }
        add(o, "<path d=\"%s Z\" fill=\"%s\"/>", d.c_str(), rgba(s).c_str());
    }
    o += "</g>\n";
}

const double TableRowH = 21;
double tableTop() { return FrameH + 46; }

// The picture's frame, its caption, and a word when there is nothing to see.
void hudHeading(std::string& o, const HudShot& shot, const std::string& title) {
    const size_t n = shot.sprites.size();
    const double H = tableTop() + 34 + TableRowH * (double)std::max<size_t>(n, 1) + 16;
    add(o,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "%s>\n",
        FrameW, H, FrameW, H, FontAttrs);
    o += "<title>" + xmlEscape("Tolvenmire HUD: " + title) + "</title>\n";
    o += "<defs><linearGradient id=\"scene\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
         "<stop offset=\"0\" stop-color=\"#39414f\"/><stop offset=\"0.62\" stop-color=\"#7a6650\"/>"
         "<stop offset=\"1\" stop-color=\"#4a3a2c\"/></linearGradient></defs>\n";
    add(o, "<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"#f4f4f2\"/>\n", FrameW, H);
    add(o, "<rect id=\"frame\" x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"url(#scene)\"/>\n",
        FrameW, FrameH);
    char caption[300];
    snprintf(caption, sizeof caption, "HUD at %s · frame %d · flask %d · intake %d · %zu sprite%s",
             formatTime(shot.at).c_str(), shot.frame, shot.flask, shot.intake, n, n == 1 ? "" : "s");
    text(o, 20, 32, caption, "font-size=\"20\" fill=\"#ffffff\" font-weight=\"bold\"");
    text(o, 20, 54,
         title +
             " · 16:9 frame, sprites at their normalised positions (drawn by tolvenmire-sim, no game art)",
         "font-size=\"13\" fill=\"#e8e8e8\"");
    if (!shot.taken || n == 0) {
        text(o, FrameW / 2, FrameH / 2,
             shot.taken ? "no sprites were drawn in this frame" : "the session has no frame at that moment",
             "text-anchor=\"middle\" font-size=\"24\" fill=\"#ffffff\"");
        text(o, FrameW / 2, FrameH / 2 + 30,
             "the meters show while drinking and while the bartender serves a refill",
             "text-anchor=\"middle\" font-size=\"15\" fill=\"#e8e8e8\"");
    }
}

// The magnified view: the area the sprites cover (bx0..bx1, by0..by1 in frame
// pixels, padded), drawn `scale` times larger at ix, iy; the sprites drawn at one
// position form a group, labelled in call order below it.
struct Magnified {
    double bx0 = 1e9, by0 = 1e9, bx1 = -1e9, by1 = -1e9;
    double scale = 1, iw = 0, ih = 0, ix = 0, iy = 150;
    std::vector<std::pair<std::pair<float, float>, std::vector<size_t>>> groups;
    double labelsH = 0;
    double px0 = 0, px1 = 0; // the panel, which takes in the labels too
};

Magnified magnify(const std::vector<sim::Sprite>& sprites) {
    Magnified m;
    for (const sim::Sprite& s : sprites) {
        const double w = std::fabs(s.width * FrameW), h = std::fabs(s.height * FrameH);
        m.bx0 = std::min(m.bx0, s.x * FrameW - w / 2);
        m.bx1 = std::max(m.bx1, s.x * FrameW + w / 2);
        m.by0 = std::min(m.by0, s.y * FrameH - h / 2);
        m.by1 = std::max(m.by1, s.y * FrameH + h / 2);
    }
    const double pad = 8;
    m.bx0 -= pad, m.by0 -= pad, m.bx1 += pad, m.by1 += pad;
    m.scale = std::clamp(std::min(900 / (m.bx1 - m.bx0), 300 / (m.by1 - m.by0)), 1.0, 8.0);
    m.iw = (m.bx1 - m.bx0) * m.scale, m.ih = (m.by1 - m.by0) * m.scale;
    for (size_t i = 0; i < sprites.size(); ++i) {
        const auto key = std::make_pair(sprites[i].x, sprites[i].y);
        auto it = std::find_if(m.groups.begin(), m.groups.end(), [&](auto& g) { return g.first == key; });
        if (it == m.groups.end())
            m.groups.push_back({key, {i}});
        else
            it->second.push_back(i);
    }
    size_t tallest = 0;
    for (auto& g : m.groups) tallest = std::max(tallest, g.second.size());
    m.labelsH = 18.0 * (double)tallest + 10;
    m.ix = (FrameW - m.iw) / 2;
    // Each group's block of labels starts 150 px left of its sprites' centre, about
    // 8.4 px a character.
    m.px0 = m.ix - 12, m.px1 = m.ix + m.iw + 12;
    for (auto& g : m.groups) {
        const double gx = m.ix + (g.first.first * FrameW - m.bx0) * m.scale;
        for (size_t i : g.second) {
            const sim::Sprite& s = sprites[i];
            const double width = 15 + 8.4 * (double)(s.dictionary.size() + s.texture.size() + 6);
            m.px0 = std::min(m.px0, gx - 162);
            m.px1 = std::max(m.px1, gx - 150 + width + 12);
        }
    }
    return m;
}

// Below each group, its sprites' colours and texture names.
void magnifiedLabels(std::string& o, const Magnified& m, const std::vector<sim::Sprite>& sprites) {
    for (auto& g : m.groups) {
        const double gx = m.ix + (g.first.first * FrameW - m.bx0) * m.scale;
        double ly = m.iy + m.ih + 22;
        for (size_t i : g.second) {
            const sim::Sprite& s = sprites[i];
            const std::string label = std::to_string(i + 1) + "  " + s.dictionary + " / " + s.texture;
            add(o,
                "<rect x=\"%.1f\" y=\"%.1f\" width=\"10\" height=\"10\" fill=\"%s\" stroke=\"#ffffff\" "
                "stroke-width=\"0.6\"/>",
                gx - 150, ly - 9, rgba(s).c_str());
            text(o, gx - 135, ly, label, "class=\"texture-label\" font-size=\"13\" fill=\"#ffffff\"");
            ly += 18;
        }
    }
}

void hudMagnified(std::string& o, const std::vector<sim::Sprite>& sprites) {
    const Magnified m = magnify(sprites);
    add(o,
        "<g id=\"magnified\"><rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" rx=\"6\" "
        "fill=\"#1d2027\" fill-opacity=\"0.88\" stroke=\"#ffffff\" stroke-opacity=\"0.6\"/>\n",
        m.px0, m.iy - 34, m.px1 - m.px0, m.ih + 46 + m.labelsH);
    char head[80];
    snprintf(head, sizeof head, "the sprites magnified ×%.1f", m.scale);
    text(o, m.px0 + 12, m.iy - 12, head, "font-size=\"14\" fill=\"#ffffff\"");
    add(o, "<g transform=\"translate(%.2f %.2f) scale(%.3f) translate(%.2f %.2f)\">\n", m.ix, m.iy, m.scale,
        -m.bx0, -m.by0);
    for (size_t i = 0; i < sprites.size(); ++i) drawSprite(o, sprites[i], (int)i + 1);
    o += "</g>\n";
    magnifiedLabels(o, m, sprites);
    // From the real meters to their magnified view.
    add(o,
        "<path d=\"M%.1f %.1f L%.1f %.1f M%.1f %.1f L%.1f %.1f\" stroke=\"#ffffff\" "
        "stroke-opacity=\"0.5\" "
        "stroke-dasharray=\"4 4\" fill=\"none\"/>\n",
        m.bx0, m.by0, m.px0, m.iy + m.ih + 12 + m.labelsH, m.bx1, m.by0, m.px1, m.iy + m.ih + 12 + m.labelsH);
    add(o,
        "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"#ffffff\" "
        "stroke-opacity=\"0.7\" stroke-dasharray=\"3 3\"/>\n</g>\n",
        m.bx0, m.by0, m.bx1 - m.bx0, m.by1 - m.by0);
}

// The calls, as made.
void hudCalls(std::string& o, const std::vector<sim::Sprite>& sprites) {
    const double top = tableTop();
    text(o, 20, top, "The frame's sprite calls, in order",
         "font-size=\"16\" font-weight=\"bold\" fill=\"#222\"");
    const double cols[] = {20, 50, 210, 450, 520, 590, 670, 750, 830};
    const char* heads[] = {
        "#", "dictionary", "texture", "x", "y", "width", "height", "rotation", "red, green, blue, alpha"};
    for (int k = 0; k < 9; ++k) text(o, cols[k], top + 26, heads[k], "font-size=\"13\" fill=\"#555\"");
    o += "<g id=\"calls\" font-family=\"DejaVu Sans Mono, monospace\" font-size=\"13\" fill=\"#222\">\n";
    for (size_t i = 0; i < sprites.size(); ++i) {
        const sim::Sprite& s = sprites[i];
        const double y = top + 26 + TableRowH * (double)(i + 1);
        char b[64];
        text(o, cols[0], y, std::to_string(i + 1));
        text(o, cols[1], y, s.dictionary);
        text(o, cols[2], y, s.texture);
        const float values[] = {s.x, s.y, s.width, s.height, s.rotation};
        for (int k = 0; k < 5; ++k) {
            snprintf(b, sizeof b, "%g", (double)values[k]);
            text(o, cols[3 + k], y, b);
        }
        snprintf(b, sizeof b, "%d, %d, %d, %d", s.red, s.green, s.blue, s.alpha);
        text(o, cols[8], y, b);
    }
    if (sprites.empty()) text(o, cols[1], top + 26 + TableRowH, "(none)");
    o += "</g>\n";
}

} // namespace

std::string spriteSvg(const sim::Sprite& sprite, int index) {
    std::string o;
    drawSprite(o, sprite, index);
    return o;
}

std::string hudSvg(const HudShot& shot, const std::string& title) {
    std::string o;
    hudHeading(o, shot, title);
    // The sprites at their real size.
    o += "<g id=\"sprites\">\n";
    for (size_t i = 0; i < shot.sprites.size(); ++i) drawSprite(o, shot.sprites[i], (int)i + 1);
    o += "</g>\n";
    if (!shot.sprites.empty()) hudMagnified(o, shot.sprites);
    hudCalls(o, shot.sprites);
    o += "</svg>\n";
    return o;
}

} // namespace player
