"""The core's vector paths (AVX2, AVX-512, taken at run time where the
processor has them) and its plain path give the same bits: the same fits run
in a process free to use them and in one where TESSALINE_DISABLE_SIMD=1 keeps
the package's kernels on the plain path. (The fixed module _tessaline reads no
environment: its loops are run both ways by the C++ suite.)"""

import subprocess
import sys

from package_under_test import subprocess_env

# Fits that pass through every vector loop: the target's labels, the
# finite range of equal widths, the sort of MDLP's rows and the counts of a
# whole table; their documents and transforms hold every double exactly.
FITS = """
import hashlib, numpy as np, tessaline as tl
rng = np.random.default_rng(11)
n = 60_000
x = rng.normal(600.0, 50.0, n).round(1)
x[rng.random(n) < 0.03] = np.nan
x[rng.random(n) < 0.01] = np.inf
y = (rng.random(n) < 1 / (1 + np.exp((x - 600.0) / 40.0))).astype(float)
z = rng.standard_t(3, n)
digest = hashlib.sha256()
for table in (tl.mdlp_binning(x, y), tl.equal_width_binning(z, y, n_bins=7),
              tl.quantile_binning(z, y, n_bins=9)):
    digest.update(table.to_json().encode())
    digest.update(table.transform(x, output="woe").tobytes())
binning = tl.TableBinning().fit({"x": x, "z": z, "y": y}, "y")
digest.update(binning.to_json().encode())
print(digest.hexdigest())
"""


def test_the_plain_path_gives_the_bits_of_the_vector_paths():
    digests = [
        subprocess.run(
            [sys.executable, "-c", FITS],
            env=subprocess_env(TESSALINE_DISABLE_SIMD=flag),
            capture_output=True,
            text=True,
            check=True,
        ).stdout
        for flag in ("0", "1")
    ]
    assert digests[0] == digests[1] and len(digests[0]) == 65
