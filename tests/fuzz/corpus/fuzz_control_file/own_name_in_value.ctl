t $a $ "$a;.$set//y
$a