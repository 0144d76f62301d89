// Selecting the value of one rank among a few dozen: the window of a rank filter.
#pragma once

#include <algorithm>
#include <climits>

// The (K + 1)-th smallest (Low) or largest of the n values: each value bubbles through
// the K + 1 extremes held so far by min and max alone, without a branch on the data.
template <int K, bool Low>
inline int extreme_rank(const int* v, int n)
{
    int best[K + 1];
    for (int i = 0; i <= K; i++) best[i] = Low ? INT_MAX : INT_MIN;
    for (int j = 0; j < n; j++) {
        int x = v[j];
        for (int i = 0; i <= K; i++) {
            const int keep = Low ? std::min(best[i], x) : std::max(best[i], x);
            x = Low ? std::max(best[i], x) : std::min(best[i], x);
            best[i] = keep;
        }
    }
    return best[K];
}

template <bool Low>
inline int extreme_rank(const int* v, int n, int k)
{
    switch (k) {
    case 0: return extreme_rank<0, Low>(v, n);
    case 1: return extreme_rank<1, Low>(v, n);
    case 2: return extreme_rank<2, Low>(v, n);
    case 3: return extreme_rank<3, Low>(v, n);
    case 4: return extreme_rank<4, Low>(v, n);
    case 5: return extreme_rank<5, Low>(v, n);
    case 6: return extreme_rank<6, Low>(v, n);
    default: return extreme_rank<7, Low>(v, n);
    }
}

// The value of rank k (0-based) among the n values of v (reordered); ranks near the ends,
// which openings and closings ask for, without sorting.
inline int select_rank(int* v, int n, int k)
{
    if (k < 8) return extreme_rank<true>(v, n, k);
    if (n - 1 - k < 8) return extreme_rank<false>(v, n, n - 1 - k);
    std::nth_element(v, v + k, v + n);
    return v[k];
}
