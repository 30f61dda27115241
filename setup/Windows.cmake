# (setup program: being written)
