#include "ctf/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/fileutil.h"
#include "core/star.h"

namespace {

template <typename... Args>
std::string format(const char* fmt, Args... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::string xmlText(const std::string& s) {
    std::string out;
    for (unsigned char c : utf8_text(s)) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (c < 0x20)
            out += ' ';  // not allowed in XML 1.0
        else
            out += (char)c;
    }
    return out;
}

}  // namespace

std::string ctf_text_line(const std::string& file, const CtfEstimate& e) {
    return format("%.4f %.4f %.4f %.1f %.2f %.4f ", e.defocus, e.defocusU, e.defocusV, e.astigAngle, e.resolution,
                  e.score) +
           file + "\n";
}

std::string ctf_json_line(const std::string& file, const CtfEstimate& e) {
    return "{\"file\": " + json_quote(file) +
           format(
               ", \"defocus\": %.4f, \"defocus_u\": %.4f, \"defocus_v\": %.4f, \"astig_angle\": %.1f, "
               "\"resolution\": %.2f, \"score\": %.4f}\n",
               e.defocus, e.defocusU, e.defocusV, e.astigAngle, e.resolution, e.score);
}

std::string ctf_star_file(const std::vector<CtfStarRow>& rows, const CtfEstimateParams& p) {
    std::string s =
        "\n# written by tarvik-proc ctf\n\ndata_micrographs\n\nloop_\n"
        "_rlnMicrographName #1\n_rlnDefocusU #2\n_rlnDefocusV #3\n_rlnDefocusAngle #4\n"
        "_rlnCtfMaxResolution #5\n_rlnCtfFigureOfMerit #6\n_rlnVoltage #7\n_rlnSphericalAberration #8\n"
        "_rlnAmplitudeContrast #9\n";
    for (const CtfStarRow& r : rows) {
        const CtfEstimate& e = r.estimate;
        // RELION counts underfocus positive, in Angstrom.
        // A row's own microscope values (read back from a table) stand; p stands for rows without.
        const bool own = r.kv > 0;
        s += r.micrograph + format(" %.2f %.2f %.2f %.3f %.5f %.2f %.3f %.4f\n", -1e4 * e.defocusU, -1e4 * e.defocusV,
                                   e.astigAngle, e.resolution, e.score, own ? r.kv : p.kv, own ? r.csMM : p.csMM,
                                   own ? r.ac : p.ac);
    }
    return s + "\n";
}

std::string ctf_plot_svg(const std::string& title, const CtfEstimate& e) {
    const double W = 760, H = 440, L = 70, R = 20, T = 50, B = 70;
    const double sMax = e.s.empty() ? 0.1 : e.s.back() * 1.02;
    // The scale of the model: the spectrum's lowest frequencies may reach far beyond it and are clipped.
    double lo = 0, hi = 0;
    for (float v : e.model) {
        lo = std::min(lo, 1.4 * v);
        hi = std::max(hi, 1.4 * v);
    }
    if (hi <= lo) hi = lo + 1;
    auto X = [&](double s) { return L + (W - L - R) * s / sMax; };
    auto Y = [&](double v) { return T + (H - T - B) * (hi - std::clamp(v, lo, hi)) / (hi - lo); };
    std::string o = format(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "font-family=\"sans-serif\" font-size=\"12\">\n",
        W, H, W, H);
    o += format("<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"white\"/>\n", W, H);
    o += "<text x=\"" + format("%.0f", L) + "\" y=\"20\" font-size=\"14\">" + xmlText(title) + "</text>\n";
    o += format(
        "<text x=\"%.0f\" y=\"38\">defocus %.4f &#181;m (u %.4f, v %.4f), astigmatism angle %.1f&#176;, "
        "resolution %.2f &#197;, score %.4f</text>\n",
        L, e.defocus, e.defocusU, e.defocusV, e.astigAngle, e.resolution, e.score);
    // Frame, zero line, ticks with frequency and resolution.
    o += format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"black\"/>\n", L, T,
                W - L - R, H - T - B);
    o += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#bbb\"/>\n", L, Y(0), W - R, Y(0));
    double step = 0.01;
    for (double c : {0.01, 0.02, 0.05, 0.1, 0.2})
        if (sMax / c <= 8) {
            step = c;
            break;
        }
    for (double s = step; s < sMax; s += step) {
        o += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n", X(s), H - B, X(s),
                    H - B + 5);
        o += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%.2f</text>\n", X(s), H - B + 18, s);
        o += format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"#555\">%.1f &#197;</text>\n", X(s),
                    H - B + 32, 1 / s);
    }
    o += format("<text x=\"%.1f\" y=\"%.1f\">spatial frequency (1/&#197;)</text>\n", L, H - 10);
    for (float z : e.zeros)
        o +=
            format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#39c\" stroke-dasharray=\"3,3\"/>\n",
                   X(z), T, X(z), H - B);
    if (e.resolution > 0)
        o += format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#2a2\" stroke-width=\"2\"/>\n",
                    X(1 / e.resolution), T, X(1 / e.resolution), H - B);
    auto poly = [&](const std::vector<float>& v, const char* colour, double width) {
        std::string p = "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"" +
                        format("%.1f", width) + "\" points=\"";
        for (size_t i = 0; i < e.s.size(); i++) p += format("%.1f,%.1f ", X(e.s[i]), Y(v[i]));
        return p + "\"/>\n";
    };
    o += poly(e.profile, "#444", 1);
    o += poly(e.model, "#d22", 1.5);
    const double ly = H - 10;
    o += format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#444\">spectrum less background</text>\n", W - R - 400, ly);
    o += format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#d22\">model</text>\n", W - R - 230, ly);
    o += format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#39c\">zeros</text>\n", W - R - 170, ly);
    o += format("<text x=\"%.1f\" y=\"%.1f\" fill=\"#2a2\">resolution</text>\n", W - R - 110, ly);
    return o + "</svg>\n";
}

namespace {
// A column's number in row r, or `dflt` when the table has no such column.
bool cell(const StarTable& t, size_t r, const char* col, double lo, double hi, double dflt, double* v) {
    const int c = t.column(col);
    if (c < 0) {
        *v = dflt;
        return true;
    }
    return starNumber(t.rows[r][c], lo, hi, v);
}

std::string baseName(const std::string& s) {
    size_t i = s.rfind('/');
    return i == std::string::npos ? s : s.substr(i + 1);
}
}  // namespace

int ctf_star_table(const StarFile& star, std::vector<CtfStarRow>* rows, std::vector<StarSkip>* refused,
                   std::string* why) {
    rows->clear();
    const StarTable* t = star.find({"_rlnMicrographName", "_rlnDefocusU", "_rlnDefocusV"});
    if (!t) {
        *why = "no table with _rlnMicrographName, _rlnDefocusU and _rlnDefocusV";
        return 0;
    }
    const StarTable* optics = star.find({"_rlnOpticsGroup", "_rlnVoltage"});
    if (optics == t) optics = nullptr;
    const int name = t->column("_rlnMicrographName"), group = t->column("_rlnOpticsGroup");
    for (size_t r = 0; r < t->rows.size(); r++) {
        CtfStarRow row;
        row.micrograph = t->rows[r][name];
        double u, v, ang, res, fom, kv, cs, ac;
        bool ok = starNumber(t->rows[r][t->column("_rlnDefocusU")], -1e6, 1e7, &u) &&
                  starNumber(t->rows[r][t->column("_rlnDefocusV")], -1e6, 1e7, &v) &&
                  cell(*t, r, "_rlnDefocusAngle", -360, 360, 0, &ang) &&
                  cell(*t, r, "_rlnCtfMaxResolution", 0, 1e6, 0, &res) &&
                  cell(*t, r, "_rlnCtfFigureOfMerit", -1e6, 1e6, 0, &fom);
        // The optics: the row's own columns, else its group's row of data_optics.
        const StarTable* src = t;
        size_t sr = r;
        if (t->column("_rlnVoltage") < 0 && optics) {
            src = optics;
            sr = 0;
            if (group >= 0) {
                for (size_t g = 0; g < optics->rows.size(); g++)
                    if (optics->rows[g][optics->column("_rlnOpticsGroup")] == t->rows[r][group]) sr = g;
            }
        }
        ok = ok && sr < src->rows.size() && cell(*src, sr, "_rlnVoltage", 0, 10000, 0, &kv) &&
             cell(*src, sr, "_rlnSphericalAberration", 0, 1000, 0, &cs) &&
             cell(*src, sr, "_rlnAmplitudeContrast", 0, 1, 0, &ac);
        if (!ok && refused) {
            refused->push_back({t->lines[r], "not a CTF row"});
            continue;
        }
        if (!ok) {
            *why = "line " + std::to_string(t->lines[r]) + ": not a CTF row";
            rows->clear();
            return 0;
        }
        CtfEstimate& e = row.estimate;
        e.defocusU = (float)(-u / 1e4);
        e.defocusV = (float)(-v / 1e4);
        e.defocus = (e.defocusU + e.defocusV) / 2;
        e.astigAngle = (float)ang;
        e.resolution = (float)res;
        e.score = (float)fom;
        row.kv = (float)kv;
        row.csMM = (float)cs;
        row.ac = (float)ac;
        rows->push_back(std::move(row));
    }
    return 1;
}

int ctf_star_read(const char* file, std::vector<CtfStarRow>* rows, std::vector<StarSkip>* refused) {
    rows->clear();
    StarFile star;
    if (!readStar(file, &star, refused)) return 0;
    std::string why;
    if (ctf_star_table(star, rows, refused, &why)) return 1;
    std::printf(why.compare(0, 5, "line ") == 0 ? "%s %s\n" : "%s: %s\n", file, why.c_str());
    return 0;
}

const CtfStarRow* ctf_star_find(const std::vector<CtfStarRow>& rows, const std::string& micrograph) {
    for (const CtfStarRow& r : rows)
        if (r.micrograph == micrograph) return &r;
    const CtfStarRow* found = nullptr;
    const std::string b = baseName(micrograph);
    for (const CtfStarRow& r : rows)
        if (baseName(r.micrograph) == b) {
            if (found) return nullptr;  // two folders hold the name: no guessing
            found = &r;
        }
    return found;
}
