"""MDLPDiscretizer: per-column MDLP tables, scikit-learn's estimator conventions,
and a Pipeline when scikit-learn is installed (never imported otherwise)."""

import subprocess
import sys

import numpy as np
import pytest
from package_under_test import subprocess_env
from package_under_test import tessaline as tl


def data(n=1500, seed=11):
    rng = np.random.default_rng(seed)
    X = np.column_stack([rng.normal(size=n), rng.uniform(0, 100, n), rng.integers(0, 5, n)])
    logit = 1.5 * X[:, 0] - 0.03 * (X[:, 1] - 50) + 0.2 * X[:, 2] - 1.0
    y = (rng.random(n) < 1 / (1 + np.exp(-logit))).astype(float)
    X[rng.random(n) < 0.03, 1] = np.nan
    return X, y


@pytest.mark.parametrize("output", ["index", "woe"])
def test_each_column_is_binned_like_mdlp_binning(output):
    X, y = data()
    disc = tl.MDLPDiscretizer(minobs=30, output=output)
    got = disc.fit_transform(X, y)
    assert disc.n_features_in_ == 3 and len(disc.tables_) == 3
    assert got.dtype == (np.int64 if output == "index" else np.float64) and got.shape == X.shape
    for j, table in enumerate(disc.tables_):
        np.testing.assert_array_equal(
            disc.splits_[j], tl.mdlp_binning(X[:, j], y, minobs=30).splits
        )
        np.testing.assert_array_equal(got[:, j], table.transform(X[:, j], output=output))


def test_params_follow_the_estimator_conventions():
    disc = tl.MDLPDiscretizer(minobs=5, output="woe")
    params = disc.get_params()
    assert params["minobs"] == 5 and params["output"] == "woe" and params["mono_dir"] == 0
    assert set(params) == {
        "minobs",
        "monotonicity",
        "mono_dir",
        "alpha_pos",
        "beta_struct",
        "force_first_split",
        "event",
        "value",
        "percentile",
        "representative",
        "output",
    }
    assert disc.set_params(mono_dir=-1, monotonicity=1) is disc
    assert disc.get_params()["mono_dir"] == -1
    assert type(disc)(**disc.get_params()).get_params() == disc.get_params()
    with pytest.raises(ValueError, match="Invalid parameter 'depth'"):
        disc.set_params(depth=3)
    assert repr(disc) == "MDLPDiscretizer(minobs=5, monotonicity=1, mono_dir=-1, output='woe')"


def test_misuse_is_reported():
    X, y = data()
    with pytest.raises(tl.NotFittedError, match="not fitted"):
        tl.MDLPDiscretizer().transform(X)
    disc = tl.MDLPDiscretizer().fit(X, y)
    with pytest.raises(
        ValueError, match="X has 2 features, but MDLPDiscretizer is expecting 3 features as input"
    ):
        disc.transform(X[:, :2])
    with pytest.raises(ValueError, match="expects a 2-D array"):
        disc.transform(X[:, 0])


def test_dataframe_columns_keep_their_names():
    pandas = pytest.importorskip("pandas")
    X, y = data()
    frame = pandas.DataFrame(X, columns=["income", "age", "accounts"])
    disc = tl.MDLPDiscretizer().fit(frame, pandas.Series(y))
    assert disc.feature_names_in_.tolist() == ["income", "age", "accounts"]
    assert [t.name for t in disc.tables_] == ["income", "age", "accounts"]
    np.testing.assert_array_equal(disc.transform(frame), disc.transform(X))
    assert disc.get_feature_names_out().tolist() == ["income", "age", "accounts"]


def test_inside_a_scikit_learn_pipeline():
    pytest.importorskip("sklearn")
    from sklearn.base import clone
    from sklearn.linear_model import LogisticRegression
    from sklearn.model_selection import GridSearchCV, cross_val_score
    from sklearn.pipeline import Pipeline

    X, y = data()
    pipe = Pipeline([("bins", tl.MDLPDiscretizer(output="woe")), ("model", LogisticRegression())])
    pipe.fit(X, y)
    # The model sees exactly the transformer's WoE columns.
    woe = pipe.named_steps["bins"].transform(X)
    np.testing.assert_array_equal(
        pipe.predict_proba(X), pipe.named_steps["model"].predict_proba(woe)
    )
    assert pipe.score(X, y) > 0.6
    copy = clone(pipe)
    assert copy.named_steps["bins"].get_params() == pipe.named_steps["bins"].get_params()
    assert not hasattr(copy.named_steps["bins"], "tables_")
    scores = cross_val_score(pipe, X, y, cv=3, scoring="roc_auc")
    assert scores.shape == (3,) and (scores > 0.6).all()
    search = GridSearchCV(pipe, {"bins__minobs": [20, 100]}, cv=3).fit(X, y)
    assert search.best_params_["bins__minobs"] in (20, 100)


def test_scikit_learn_is_not_imported_by_the_transformer():
    code = (
        "import sys, numpy as np, tessaline as tl\n"
        "X = np.arange(40.0).reshape(20, 2); y = (np.arange(20) > 9).astype(float)\n"
        "tl.MDLPDiscretizer(minobs=0).fit_transform(X, y)\n"
        "print('sklearn' in sys.modules)"
    )
    out = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        check=True,
        env=subprocess_env(),
    )
    assert out.stdout.strip() == "False"
