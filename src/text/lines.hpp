// Every line the program prints, in one place. The trace, on standard output, is
//
//   Introduza o nome do ficheiro: nr pontos: N        the prompt (no line end), the count
//   then for each iteration l = 0, 1, ...:
//     nr pontos: N                                    the count, as the file holds it now
//     (empty line)
//     Pontos escolhidos aleatoriamente:
//     4 1 3                                           the K points as drawn, "%d " each
//     Nr pontos aleatorios: K
//     1 3 4                                           the same, sorted
//     K - Q                                           Q = K(K-1)/2, a space before the end
//     Distancia media para K pontos, iteracao l: S    S with six decimals, as "%f"
//   then: Melhor com K numeros: S pontos              the best score and its size
//
// or, in place of a count line, the one line that says why the file cannot be used, and
// nothing after it. Each function writes at `at`, which has room for what it writes
// (see the room functions), and returns the end of what it wrote.
//
// A person at a terminal (standard error a terminal, the trace going elsewhere) also
// sees, on standard error: the prompt; one progress line, redrawn in place
//   iteracao 1200000 de 5000000 (24.0%), 6100000 iteracoes/s, faltam 1 s, melhor 15.226210 com 9
//   pontos
// and cleared at the end; then the best subset itself:
//   Melhor subconjunto, da iteracao 123456: 1 3 5 8 9 12 14 17 20
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "data/version.hpp"

namespace subset {

// ------------------------------------------------------------------ the trace's texts
// Written here and read back by trace_summary: the trace's grammar is these texts.

inline constexpr std::string_view prompt_line = "Introduza o nome do ficheiro: ";
inline constexpr std::string_view count_text = "nr pontos: "; // then N
inline constexpr std::string_view title_line = "Pontos escolhidos aleatoriamente:";
inline constexpr std::string_view chosen_text = "Nr pontos aleatorios: ";  // then K
inline constexpr std::string_view pairs_text = " - ";                      // between K and Q
inline constexpr std::string_view pairs_end = " ";                         // after Q
inline constexpr std::string_view result_text = "Distancia media para ";   // then K
inline constexpr std::string_view result_iteration = " pontos, iteracao "; // then l
inline constexpr std::string_view result_score = ": ";                     // then S
inline constexpr std::string_view best_text = "Melhor com ";               // then K
inline constexpr std::string_view best_score = " numeros: ";               // then S
inline constexpr std::string_view best_end = " pontos";
// Every line that says why a run ended starts so.
inline constexpr std::string_view error_start = "Erro no ";

// On standard error, when the trace cannot be written.
inline constexpr std::string_view write_error_line = "Erro na escrita dos resultados\n";
// In place of the rest of a run that cannot get the memory it needs to go on.
inline constexpr std::string_view no_memory_line = "Erro no programa: sem memoria para continuar\n";
// Before the best subset's line on the terminal, when the run was stopped.
inline constexpr std::string_view interrupted_note = "Execucao interrompida. ";

// Room for any one line but those of the point lists.
inline constexpr std::size_t line_room = 400;

// Room for the eight lines of an iteration of a subset of k points: each point list
// takes at most 6 bytes a point (5 digits and a space) and writes up to 7 bytes past its
// end; the six other lines take at most 16 + 35 + 27 + 16 + 105 bytes (a score with 39
// digits before the point, an iteration number with 10).
inline constexpr std::size_t iteration_room(std::int32_t k) {
    static_assert(max_points < 100'000, "five digits a point");
    return 256 + 12 * static_cast<std::size_t>(k);
}

// "nr pontos: N\n"
char* put_count(char* at, std::int32_t n);

// The line for a file that cannot be used.
char* put_file_error(char* at, const file_error& why);

// A number's decimal text, counted up in place: the iterations of a batch are numbered
// one after the other.
struct decimal {
    char digits[16]; // the text, most significant digit first
    int length = 0;  // digits in use
};

// The text of `v` (0 or more).
decimal decimal_of(std::int64_t v);

// Adds one to `d`.
void count_up(decimal& d);

// The eight lines of iteration `number`: count n, the k points as drawn and sorted, the
// pair count and the score.
char* put_iteration(char* at, std::int32_t n, const decimal& number, const std::int32_t* drawn,
                    const std::int32_t* sorted, std::int32_t k, float score);

// "Melhor com K numeros: S pontos\n"
char* put_best(char* at, std::int32_t size, float score);

// The progress line's text (without the carriage return that starts it): `done` of
// `total` iterations in `seconds`, and the best so far.
char* put_progress(char* at, std::int64_t done, std::int64_t total, double seconds, float best,
                   std::int32_t best_size);

// The best subset's line: its points, sorted, and the iteration that first reached it;
// `size` 0 when no subset scored above 0.
char* put_best_subset(char* at, std::int64_t iteration, const std::int32_t* points,
                      std::int32_t size);

// A score with six decimals, exactly as printf's "%f" prints the float widened to double
// (NaNs as "nan" or "-nan").
char* put_score(char* at, float score);

} // namespace subset
