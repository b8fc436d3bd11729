"""Long generated scripts for the modules that scan comment-free text in windows cut between a ")" and
punctuation: mostly pieces that put such cuts beside the patterns' keywords, with one wide character
(or nothing) inserted at a random place."""

import random


def windowed_text(seed: int, cut_pieces: list[str], keywords: list[str], widener: str, *, size: int,
                  cut_share: float) -> str:
    rng = random.Random(seed)
    parts, length = [], 0
    while length < size:
        piece = rng.choice(cut_pieces) if rng.random() < cut_share else rng.choice(keywords)
        parts.append(piece)
        length += len(piece)
    at = rng.randrange(len(parts))
    return "".join(parts[:at]) + widener + "".join(parts[at:])
