#!/usr/bin/env python3
"""Writes primes.txt: primes at the bit lengths where the Miller-Rabin round count changes
(from `openssl prime -generate`) and a Carmichael number of 512 bits of Chernick's form
(6k+1)(12k+1)(18k+1), its three factors confirmed prime by `openssl prime`."""
import random
import subprocess

def openssl_prime(bits):
    out = subprocess.run(["openssl", "prime", "-generate", "-bits", str(bits), "-hex"],
                         check=True, capture_output=True, text=True).stdout
    return out.strip()

def openssl_is_prime(n):
    out = subprocess.run(["openssl", "prime", str(n)], check=True, capture_output=True,
                         text=True).stdout
    return "is prime" in out

SMALL = [p for p in range(5, 2000) if all(p % q for q in range(2, int(p ** 0.5) + 1))]

def probable_prime(n):
    if any(n % p == 0 for p in SMALL):
        return False
    d, s = n - 1, 0
    while d % 2 == 0:
        d, s = d // 2, s + 1
    for a in (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37):
        x = pow(a, d, n)
        if x in (1, n - 1):
            continue
        for _ in range(s - 1):
            x = x * x % n
            if x == n - 1:
                break
        else:
            return False
    return True

def chernick(bits):
    rng = random.Random(2026)
    while True:
        k = rng.getrandbits(167) | (1 << 166)
        factors = [6 * k + 1, 12 * k + 1, 18 * k + 1]
        n = factors[0] * factors[1] * factors[2]
        if n.bit_length() < bits:
            continue
        if all(probable_prime(f) for f in factors) and all(openssl_is_prime(f) for f in factors):
            return n, factors

with open("primes.txt", "w") as f:
    f.write("# Made by make_primes.py.\n\n")
    for bits in (511, 512, 1023, 1024, 2047, 2048):
        f.write(f"Bits = {bits}\nPrime = {openssl_prime(bits)}\n\n")
    n, factors = chernick(512)
    f.write(f"Bits = {n.bit_length()}\nCarmichael = {n:X}\n")
    for i, p in enumerate(factors, 1):
        f.write(f"Factor{i} = {p:X}\n")
    f.write("\n")
