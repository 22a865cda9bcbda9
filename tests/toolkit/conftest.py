"""The toolkit tests import the package from the source tree (its native
parts come from the build, on PYTHONPATH) and the statement generator."""

import os
import sys
import warnings

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "python"))
sys.path.insert(0, os.path.join(ROOT, "bench"))
# Debian's Dask warns at import that its optional query planner is absent.
warnings.filterwarnings("ignore", message=".*dask-expr.*", category=FutureWarning)
