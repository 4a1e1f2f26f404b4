"""The tail probabilities behind the validation tests, against SciPy over
the parameters a validation meets."""

import numpy as np
import pytest
from package_under_test import tessaline  # noqa: F401  (the package on the path)
from scipy import stats

from tessaline._core import distributions as d

RNG = np.random.default_rng(7)
BETAS = [
    (float(x), float(a), float(b))
    for x, a, b in zip(
        RNG.uniform(0, 1, 40), RNG.uniform(0.5, 3000, 40), RNG.uniform(0.5, 3000, 40)
    )
]
CHI2S = [(float(x), int(k)) for x, k in zip(RNG.uniform(0, 300, 40), RNG.integers(1, 100, 40))]


@pytest.mark.parametrize(
    "ours, theirs, args",
    [
        *[(d.beta_cdf, stats.beta.cdf, a) for a in BETAS],
        *[(d.chi2_sf, stats.chi2.sf, a) for a in CHI2S],
        *[(d.kolmogorov_sf, stats.kstwobign.sf, (x,)) for x in (0.05, 0.3, 0.99, 1.0, 1.7, 3.5)],
        *[(d.normal_sf, stats.norm.sf, (z,)) for z in (-3.0, 0.0, 1.96, 8.0)],
        *[(d.normal_quantile, stats.norm.ppf, (p,)) for p in (1e-9, 0.025, 0.5, 0.975)],
    ],
)
def test_each_function_equals_scipy(ours, theirs, args):
    want = float(theirs(*args))
    assert ours(*args) == pytest.approx(want, rel=1e-10, abs=1e-300)


@pytest.mark.parametrize(
    "k, n, p",
    [(0, 10, 0.3), (1, 1, 0.2), (3, 10, 0.01), (40, 1000, 0.02), (11, 10, 0.5), (250, 4000, 0.07)],
)
def test_binomial_tail_equals_scipy(k, n, p):
    assert d.binomial_sf(k, n, p) == pytest.approx(stats.binom.sf(k - 1, n, p), rel=1e-10)
