// Templates from boxes already on a micrograph, and automatic boxes in a data
// set's box list.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/MRCData.h"
#include "core/boxops.h"
#include "pick/autopick.h"

const char* const kAutopickBoxName = "autopick";

void autopick_rotational_average(float* img, int nx, int ny) {
    if (nx < 1 || ny < 1) return;
    const int cx = nx / 2, cy = ny / 2, n = (int)std::ceil(std::hypot(nx, ny)) + 2;
    std::vector<double> sum(n + 1, 0.0), wt(n + 1, 0.0);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) {
            const double d = std::hypot((double)(x - cx), (double)(y - cy));
            const int i = (int)d;
            const double f = d - i, v = img[(size_t)y * nx + x];
            sum[i] += (1 - f) * v, wt[i] += 1 - f;
            sum[i + 1] += f * v, wt[i + 1] += f;
        }
    for (int i = 0; i <= n; i++) sum[i] = wt[i] > 0 ? sum[i] / wt[i] : (i > 0 ? sum[i - 1] : 0);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) {
            const double d = std::hypot((double)(x - cx), (double)(y - cy));
            const int i = (int)d;
            const double f = d - i;
            img[(size_t)y * nx + x] = (float)((1 - f) * sum[i] + f * sum[i + 1]);
        }
}

int autopick_template_from_boxes(const float* image, int nx, int ny, const std::vector<Pick>& boxes, int size,
                                 std::vector<float>* out) {
    if (size < 2 || size > nx || size > ny) return 0;
    std::vector<double> acc((size_t)size * size, 0.0);
    int used = 0;
    for (const Pick& b : boxes) {
        // Centred as the box is (the pick files' centre: corner + size / 2).
        const int x0 = b.x + b.w / 2 - size / 2, y0 = b.y + b.h / 2 - size / 2;
        if (b.w < 1 || b.h < 1 || x0 < 0 || y0 < 0 || x0 + size > nx || y0 + size > ny) continue;
        double m = 0;
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) m += image[(size_t)(y0 + y) * nx + x0 + x];
        m /= (double)size * size;
        for (int y = 0; y < size; y++)
            for (int x = 0; x < size; x++) acc[(size_t)y * size + x] += image[(size_t)(y0 + y) * nx + x0 + x] - m;
        used++;
    }
    if (!used) return 0;
    out->resize(acc.size());
    for (size_t i = 0; i < acc.size(); i++) (*out)[i] = (float)(acc[i] / used);
    autopick_rotational_average(out->data(), size, size);
    return used;
}

bool autopick_is_auto_box(const BoxRecord& b) {
    return b.type == 0 && std::strcmp(b.name, kAutopickBoxName) == 0;
}

int autopick_replace_boxes(MRCData* d, const std::vector<AutoPick>& picks) {
    // Boxes moved by hand in DB mode are the user's now: they stay.
    for (int i = d->nBoxes() - 1; i >= 0; i--) {
        const BoxRecord& b = d->Boxes()[i];
        if (autopick_is_auto_box(b) && !boxMoved(b)) d->delBox(i);
    }
    for (const AutoPick& p : picks) d->addBox(p.box.x, p.box.y, p.box.w, p.box.h, kAutopickBoxName, 0);
    int n = 0;
    for (int i = 0; i < d->nBoxes(); i++) n += autopick_is_auto_box(d->Boxes()[i]);
    return n;
}
