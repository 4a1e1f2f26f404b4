"""python -m tessaline report DATA.csv --target COLUMN [--event VALUE] [--html OUT.html]"""

import sys

from .report import main

if __name__ == "__main__":
    sys.exit(main())
