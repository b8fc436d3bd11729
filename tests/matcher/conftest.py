import sys
from pathlib import Path

# The strategies and corpus helpers shared by this folder's test files.
sys.path.insert(0, str(Path(__file__).resolve().parent))
