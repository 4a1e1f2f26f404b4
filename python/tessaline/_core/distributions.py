"""Tail probabilities and quantiles of the distributions behind the
validation tests (normal, chi-square, beta, binomial, Kolmogorov), from the
standard library's error function and log-gamma: the package needs no
statistics library at run time.

The incomplete gamma and beta functions use the classic power series and
Lentz's continued fraction, each where it converges fast, to about 1e-15
relative for the moderate parameters of a validation (up to some million rows).
"""

from __future__ import annotations

import math
from collections.abc import Callable
from statistics import NormalDist

_EPS = 1e-16
_TINY = 1e-300
_MAX_TERMS = 100_000


def normal_sf(z: float) -> float:
    """P(Z > z) of a standard normal Z."""
    return 0.5 * math.erfc(z / math.sqrt(2.0))


def normal_quantile(p: float) -> float:
    """The z with P(Z <= z) = p."""
    return NormalDist().inv_cdf(p)


def _lentz(term: Callable[[int], tuple[float, float]], start: float) -> float:
    """The continued fraction b0 + a1/(b1 + a2/(b2 + ...)) by Lentz's method,
    `term(i)` giving (a_i, b_i) from i = 1 on and `start` = b0."""
    f = start if start != 0.0 else _TINY
    c, d = f, 0.0
    for i in range(1, _MAX_TERMS):
        a, b = term(i)
        d = b + a * d
        d = 1.0 / (d if d != 0.0 else _TINY)
        c = b + a / c
        c = c if c != 0.0 else _TINY
        f *= c * d
        if abs(c * d - 1.0) < _EPS:
            return f
    raise ArithmeticError("continued fraction did not converge")


def gamma_q(a: float, x: float) -> float:
    """The regularised upper incomplete gamma function Q(a, x)."""
    if x <= 0.0:
        return 1.0
    log_front = a * math.log(x) - x - math.lgamma(a)
    if x < a + 1.0:  # the series of P(a, x)
        term = total = 1.0 / a
        n = a
        while abs(term) > abs(total) * _EPS:
            n += 1.0
            term *= x / n
            total += term
        return 1.0 - total * math.exp(log_front)
    # Q's continued fraction, 1 / (x + 1 - a - 1(1 - a) / (x + 3 - a - ...)).
    fraction = _lentz(lambda i: (-i * (i - a), x + 2.0 * i + 1.0 - a), x + 1.0 - a)
    return math.exp(log_front) / fraction


def chi2_sf(x: float, df: float) -> float:
    """P(X > x) of a chi-square X with `df` degrees of freedom."""
    return gamma_q(df / 2.0, x / 2.0)


def beta_cdf(x: float, a: float, b: float) -> float:
    """The regularised incomplete beta function I_x(a, b), P(X <= x) of a Beta(a, b)."""
    if x <= 0.0:
        return 0.0
    if x >= 1.0:
        return 1.0
    if x > (a + 1.0) / (a + b + 2.0):
        return 1.0 - beta_cdf(1.0 - x, b, a)
    log_front = (
        a * math.log(x) + b * math.log1p(-x) + math.lgamma(a + b) - math.lgamma(a) - math.lgamma(b)
    )

    def term(i: int) -> tuple[float, float]:
        m = i // 2
        if i % 2:
            return -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1)), 1.0
        return m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m)), 1.0

    return math.exp(log_front) / a / _lentz(term, 1.0)


def beta_quantile(q: float, a: float, b: float) -> float:
    """The x with I_x(a, b) = q, by bisection: the distribution function is
    monotone, so halving [0, 1] to the last bit cannot miss its root."""
    low, high = 0.0, 1.0
    while True:
        middle = 0.5 * (low + high)
        if middle in (low, high):
            return middle
        if beta_cdf(middle, a, b) < q:
            low = middle
        else:
            high = middle


def binomial_sf(k: int, n: int, p: float) -> float:
    """P(X >= k) of a binomial X of n trials with probability p."""
    if k <= 0:
        return 1.0
    if k > n:
        return 0.0
    return beta_cdf(p, k, n - k + 1)


def kolmogorov_sf(x: float) -> float:
    """P(K > x) of Kolmogorov's limit distribution, the asymptotic law of
    sqrt(n m / (n + m)) times the two-sample KS statistic."""
    if x <= 0.0:
        return 1.0
    if x < 1.0:  # the series of the distribution function converges fast here
        v = math.pi**2 / (8.0 * x * x)
        total = sum(math.exp(-((2 * k - 1) ** 2) * v) for k in range(1, 20))
        return 1.0 - math.sqrt(2.0 * math.pi) / x * total
    return 2.0 * math.fsum(
        (-1.0 if k % 2 == 0 else 1.0) * math.exp(-2.0 * k * k * x * x) for k in range(1, 40)
    )
