$set $a = 1
$set $ab = x//y
$a; $ab//z # r
  $set $q = 2
10#x
