// The search, step by step, with the C library's formatted input and output.
#include "reference.hpp"

#include <vector>

namespace reference {
namespace {

struct item {
    std::int32_t p1;
    std::int32_t p2;
    float dist;
};

// The tables and lists of the original program; they grow for a larger file, keeping
// what they held.
constexpr int capacity = 10000;
constexpr int list_size = 2000;

std::int32_t max = 0;
std::vector<item> myItems; // both tables, zero at first, made by the first run
std::vector<item> mySol;
std::FILE* out = nullptr;

std::FILE* open_or_report(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "r");
    if (f == nullptr) std::fputs("Erro no acesso ao ficheiro dos dados\n", out);
    return f;
}

long init_dados(const std::string& name) {
    std::FILE* f = open_or_report(name);
    if (f == nullptr) return -1;
    int first = 0, second = 0, counter = 0;
    float dist = 0;
    do {
        // A file of two points ends inside the run of point 1: count the missing triple.
        if (std::fscanf(f, " %d", &first) != 1) {
            ++counter;
            break;
        }
        if (std::fscanf(f, " %d", &second) != 1 || std::fscanf(f, " %f", &dist) != 1) break;
        ++counter;
    } while (first == 1);
    max = counter;
    std::fprintf(out, "nr pontos: %d\n", max);
    int pairs = 0;
    for (int t = max - 1; t >= 1; --t) pairs += t;
    std::fclose(f);
    return pairs;
}

bool guardaEstrutura(const std::string& name, int count) {
    std::FILE* f = open_or_report(name);
    if (f == nullptr) return false;
    for (int i = 0; i != count; ++i)
        if (std::fscanf(f, "%d %d %f", &myItems[i].p1, &myItems[i].p2, &myItems[i].dist) != 3)
            break;
    std::fclose(f);
    return true;
}

int give_rand(int a, int b, int (*rnd)()) {
    return a + rnd() % (b - a + 1); // NOLINT(clang-analyzer-core.DivideZero): a <= b
}

float dist_med(int n, int count, const std::vector<item>& items) {
    std::fprintf(out, "%d - %d \n", n, count);
    float sum = 0;
    for (int i = 0; i < count; ++i) sum = items[i].dist + sum;
    return sum / static_cast<float>(n);
}

} // namespace

int run(const std::string& name, std::FILE* to, std::int32_t iterations, int (*rnd)()) {
    myItems.assign(capacity, item{});
    mySol.assign(capacity, item{});
    out = to;
    std::fputs("Introduza o nome do ficheiro: ", out);
    long pairs = init_dados(name);
    if (pairs < 0) return 1;
    std::vector<int> pool(list_size), draws(list_size), chosen(list_size);
    float best_score = 0;
    int best_size = 0;
    for (int l = 0; l <= iterations - 1; ++l) {
        pairs = init_dados(name);
        if (pairs < 0) return 1;
        if (myItems.size() < static_cast<std::size_t>(pairs))
            myItems.resize(static_cast<std::size_t>(pairs));
        if (mySol.size() < static_cast<std::size_t>(pairs))
            mySol.resize(static_cast<std::size_t>(pairs));
        if (pool.size() < static_cast<std::size_t>(max)) {
            pool.resize(static_cast<std::size_t>(max));
            chosen.resize(static_cast<std::size_t>(max));
        }
        // Drawing.
        for (int m = 0; m < max; ++m) pool[m] = m + 1;
        const int size = give_rand(2, max, rnd);
        int subset_pairs = 0;
        for (int t = size - 1; t >= 1; --t) subset_pairs += t;
        std::fputc('\n', out);
        int count = 0;
        for (int d = 0;; ++d) {
            int value = rnd() % (max + 1) + 1;
            if (d < list_size) draws[d] = value;
            for (int m = 0; m < max; ++m)
                if (pool[m] == value) {
                    chosen[count++] = value;
                    pool[m] = -1;
                }
            if (count == size) break;
        }
        std::fputs("Pontos escolhidos aleatoriamente:\n", out);
        for (int i = 0; i < size; ++i) std::fprintf(out, "%d ", chosen[i]);
        std::fputc('\n', out);
        std::fprintf(out, "Nr pontos aleatorios: %d\n", count);
        for (int n = 0; n < size; ++n)
            for (int m = 0; m < size; ++m)
                if (chosen[n] < chosen[m]) std::swap(chosen[n], chosen[m]);
        for (int i = 0; i < size; ++i) std::fprintf(out, "%d ", chosen[i]);
        std::fputc('\n', out);
        if (!guardaEstrutura(name, static_cast<int>(pairs))) return 1;
        // Scoring.
        int k = 0;
        for (int n = 0; n < size; ++n)
            for (int m = 0; m < size; ++m)
                if (chosen[n] < chosen[m]) {
                    int a = chosen[n], b = chosen[m];
                    int s = b - a;
                    for (int v = a - 1; v >= 1; --v) s += max - v;
                    mySol[k++] = myItems[s - 1];
                }
        float score = dist_med(size, subset_pairs, mySol);
        if (score > best_score) {
            best_score = score;
            best_size = size;
        }
        std::fprintf(out, "Distancia media para %d pontos, iteracao %d: %f\n", size, l,
                     static_cast<double>(score));
    }
    std::fprintf(out, "Melhor com %d numeros: %f pontos\n", best_size,
                 static_cast<double>(best_score));
    return 0;
}

} // namespace reference
